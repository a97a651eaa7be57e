#include "tests/platform/web/TestObject.h"

#include <algorithm>
#include <cwctype>

namespace norv::test {

using namespace norv::com;

int TestObject::live = 0;

namespace {
bool sameName(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char16_t x, char16_t y) { return std::towlower(x) == std::towlower(y); });
}
} // namespace

void TestObject::property(std::u16string name, Variant initial) {
    members_.push_back({std::move(name), false, std::move(initial), {}});
}
void TestObject::getter(std::u16string name, Method get) {
    members_.push_back({std::move(name), false, {}, std::move(get)});
}
void TestObject::method(std::u16string name, Method body) {
    members_.push_back({std::move(name), true, {}, std::move(body)});
}

Variant& TestObject::value(std::u16string_view name) {
    for (auto& m : members_)
        if (sameName(m.name, name))
            return m.value;
    static Variant none;
    return none;
}

HRESULT TestObject::GetTypeInfoCount(std::uint32_t* count) {
    *count = 0;
    return S_OK;
}
HRESULT TestObject::GetTypeInfo(std::uint32_t, LCID, ITypeInfo** out) {
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT TestObject::GetIDsOfNames(const IID&, std::span<const Bstr> names, LCID,
                                  std::span<DISPID> ids) {
    HRESULT hr = S_OK;
    for (std::size_t i = 0; i < names.size(); ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (std::size_t k = 0; k < members_.size(); ++k)
            if (sameName(members_[k].name, names[i].view()))
                ids[i] = static_cast<DISPID>(k + 1);
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TestObject::Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DispParams& params,
                           Variant* result, ExcepInfo*, std::uint32_t*) {
    std::vector<Variant> args(params.args.rbegin(), params.args.rend());
    if (id == DISPID_VALUE) {
        if (!default_ || !(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        return default_(args, result);
    }
    if (id < 1 || static_cast<std::size_t>(id) > members_.size())
        return DISP_E_MEMBERNOTFOUND;
    Member& m = members_[static_cast<std::size_t>(id) - 1];
    if (m.isMethod) {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        Variant ignored;
        return m.body(args, result ? result : &ignored);
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (params.args.size() != 1 || params.namedArgs.size() != 1 ||
            params.namedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_BADPARAMCOUNT;
        m.value = params.args[0];
        return S_OK;
    }
    if (!(flags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    if (m.body) {
        Variant ignored;
        return m.body(args, result ? result : &ignored);
    }
    if (result)
        *result = m.value;
    return S_OK;
}

HRESULT callDefault(IDispatch* target, std::vector<Variant> args, Variant* result,
                    ExcepInfo* excep) {
    std::vector<Variant> reversed(args.rbegin(), args.rend());
    DispParams params{reversed, {}};
    ExcepInfo local;
    std::uint32_t argErr = 0;
    return target->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params,
                          result, excep ? excep : &local, &argErr);
}

} // namespace norv::test
