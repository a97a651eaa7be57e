#include "platform/com/TypeInfo.h"

#include <map>
#include <mutex>

#include "platform/com/ComObject.h"
#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"

namespace norv::com {

namespace {

char16_t foldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char16_t>(c + 0x20);
    return c;
}

bool isPut(InvokeKind kind) {
    return kind == InvokeKind::PropertyPut || kind == InvokeKind::PropertyPutRef;
}

const FuncInfo* findKind(const InterfaceInfo& info, DISPID id, InvokeKind kind) {
    for (const FuncInfo& f : info.funcs)
        if (f.memid == id && f.kind == kind)
            return &f;
    return nullptr;
}

// Converts one argument to the declared type of its parameter.
HRESULT convertArgument(const Variant& arg, const ParamInfo& param, Variant& out) {
    if (param.vt == VT_VARIANT) {
        out = arg;
        return S_OK;
    }
    if ((param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) &&
        (arg.vt() == VT_NULL || arg.vt() == VT_EMPTY)) {
        // Script's null (and undefined) stand for "no object".
        out = param.vt == VT_DISPATCH ? Variant::fromDispatch(nullptr)
                                      : Variant::fromUnknown(nullptr);
        return S_OK;
    }
    HRESULT hr = changeType(out, arg, param.vt);
    if (hr == E_NOINTERFACE)
        hr = DISP_E_TYPEMISMATCH;
    return hr;
}

// The value a missing optional parameter takes.
HRESULT missingValue(const ParamInfo& param, Variant& out) {
    if (param.hasDefault()) {
        out = param.defaultValue;
        return S_OK;
    }
    if (param.vt == VT_VARIANT) {
        out = Variant::missing();
        return S_OK;
    }
    return convertArgument(Variant(), param, out);
}

class TypeInfoObject final : public ComObject<TypeInfoObject, ITypeInfo> {
public:
    explicit TypeInfoObject(const InterfaceInfo* info) : info_(info) {}

    HRESULT GetInterfaceInfo(const InterfaceInfo** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = info_;
        return S_OK;
    }
    HRESULT GetIDsOfNames(std::span<const Bstr> names, std::span<DISPID> ids) override {
        return dispatchGetIDsOfNames(*info_, names, ids);
    }
    HRESULT Invoke(void* instance, DISPID id, std::uint16_t flags, DispParams& params,
                   Variant* result, ExcepInfo* excepInfo, std::uint32_t* argErr) override {
        if (instance == nullptr)
            return E_INVALIDARG;
        return dispatchInvoke(*info_, instance, id, flags, params, result, excepInfo, argErr);
    }
    HRESULT GetDocumentation(DISPID memid, Bstr* name, Bstr* doc) override {
        if (memid == MEMBERID_NIL) {
            if (name)
                *name = Bstr(info_->name);
            if (doc)
                *doc = Bstr(info_->doc);
            return S_OK;
        }
        for (const FuncInfo& f : info_->funcs) {
            if (f.memid == memid) {
                if (name)
                    *name = Bstr(f.name);
                if (doc)
                    *doc = Bstr(f.doc);
                return S_OK;
            }
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }

private:
    const InterfaceInfo* info_;
};

class TypeLibObject final : public ComObject<TypeLibObject, ITypeLib> {
public:
    explicit TypeLibObject(const TypeLibInfo* info) : info_(info) {}

    HRESULT GetLibraryInfo(const TypeLibInfo** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = info_;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(const IID& iid, ITypeInfo** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        for (const InterfaceInfo* i : info_->interfaces) {
            if (i->iid == iid) {
                *out = typeInfoFor(*i);
                (*out)->AddRef();
                return S_OK;
            }
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetDocumentation(std::int32_t index, Bstr* name, Bstr* doc) override {
        if (index == -1) {
            if (name)
                *name = Bstr(info_->name);
            if (doc)
                *doc = Bstr(info_->helpString);
            return S_OK;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= info_->interfaces.size())
            return TYPE_E_ELEMENTNOTFOUND;
        const InterfaceInfo* i = info_->interfaces[static_cast<std::size_t>(index)];
        if (name)
            *name = Bstr(i->name);
        if (doc)
            *doc = Bstr(i->doc);
        return S_OK;
    }

private:
    const TypeLibInfo* info_;
};

} // namespace

std::u16string ParamInfo::typeName() const {
    return interfaceInfo ? interfaceInfo().name : userType;
}

bool namesEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

const FuncInfo* InterfaceInfo::findForCall(DISPID id, std::uint16_t flags) const {
    // A put prefers its own kind and accepts the other put kind; script engines differ
    // in which of the two they use for object values.
    if (flags & DISPATCH_PROPERTYPUTREF) {
        if (const FuncInfo* f = findKind(*this, id, InvokeKind::PropertyPutRef))
            return f;
        return findKind(*this, id, InvokeKind::PropertyPut);
    }
    if (flags & DISPATCH_PROPERTYPUT) {
        if (const FuncInfo* f = findKind(*this, id, InvokeKind::PropertyPut))
            return f;
        return findKind(*this, id, InvokeKind::PropertyPutRef);
    }
    if (flags & DISPATCH_METHOD) {
        if (const FuncInfo* f = findKind(*this, id, InvokeKind::Method))
            return f;
    }
    if (flags & DISPATCH_PROPERTYGET)
        return findKind(*this, id, InvokeKind::PropertyGet);
    return nullptr;
}

bool InterfaceInfo::hasMember(DISPID id) const {
    for (const FuncInfo& f : funcs)
        if (f.memid == id)
            return true;
    return false;
}

namespace detail {

void checkInterfaceInfo(const InterfaceInfo& info) {
    for (std::size_t i = 0; i < info.funcs.size(); ++i) {
        for (std::size_t j = i + 1; j < info.funcs.size(); ++j) {
            const FuncInfo& a = info.funcs[i];
            const FuncInfo& b = info.funcs[j];
            if (a.memid == b.memid && a.kind == b.kind)
                throw std::logic_error("two members with one identifier and kind");
            if (namesEqual(a.name, b.name) && a.memid != b.memid)
                throw std::logic_error("one member name with two identifiers");
        }
    }
}

} // namespace detail

ITypeInfo* typeInfoFor(const InterfaceInfo& info) {
    static std::mutex lock;
    static std::map<const InterfaceInfo*, ComPtr<ITypeInfo>> objects;
    std::lock_guard guard(lock);
    ComPtr<ITypeInfo>& object = objects[&info];
    if (!object)
        object = makeObject<TypeInfoObject>(&info);
    return object.get();
}

ComPtr<ITypeLib> createTypeLib(const TypeLibInfo& info) {
    return makeObject<TypeLibObject>(&info);
}

HRESULT dispatchGetIDsOfNames(const InterfaceInfo& info, std::span<const Bstr> names,
                              std::span<DISPID> ids) {
    if (names.empty() || ids.size() < names.size())
        return E_INVALIDARG;
    for (DISPID& id : ids)
        id = DISPID_UNKNOWN;
    const FuncInfo* member = nullptr;
    for (const FuncInfo& f : info.funcs) {
        if (namesEqual(f.name, names[0].view())) {
            member = &f;
            break;
        }
    }
    if (member == nullptr)
        return DISP_E_UNKNOWNNAME;
    ids[0] = member->memid;
    HRESULT hr = S_OK;
    for (std::size_t n = 1; n < names.size(); ++n) {
        // Parameter names: the member's own, in any of its kinds.
        for (const FuncInfo& f : info.funcs) {
            if (f.memid != member->memid)
                continue;
            for (std::size_t p = 0; p < f.params.size(); ++p) {
                if (namesEqual(f.params[p].name, names[n].view())) {
                    ids[n] = static_cast<DISPID>(p);
                    break;
                }
            }
            if (ids[n] != DISPID_UNKNOWN)
                break;
        }
        if (ids[n] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT dispatchInvoke(const InterfaceInfo& info, void* self, DISPID id, std::uint16_t flags,
                       DispParams& params, Variant* result, ExcepInfo* excepInfo,
                       std::uint32_t* argErr) {
    const FuncInfo* f = info.findForCall(id, flags);
    if (f == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    const std::size_t cArgs = params.args.size();
    const std::size_t cNamed = params.namedArgs.size();
    if (cNamed > cArgs)
        return E_INVALIDARG;
    auto fail = [&](HRESULT hr, std::size_t argIndex) {
        if (argErr)
            *argErr = static_cast<std::uint32_t>(argIndex);
        return hr;
    };

    const bool put = isPut(f->kind);
    const std::size_t nIn = f->params.size();
    constexpr std::size_t none = SIZE_MAX;
    std::vector<std::size_t> source(nIn, none); // index into params.args

    // Named arguments: the put value, or parameters by position.
    for (std::size_t k = 0; k < cNamed; ++k) {
        DISPID named = params.namedArgs[k];
        std::size_t target = none;
        if (named == DISPID_PROPERTYPUT && put)
            target = nIn - 1;
        else if (named >= 0 && static_cast<std::size_t>(named) < nIn &&
                 !(put && static_cast<std::size_t>(named) == nIn - 1))
            target = static_cast<std::size_t>(named);
        if (target == none || source[target] != none)
            return fail(DISP_E_PARAMNOTFOUND, k);
        source[target] = k;
    }
    std::size_t positionalBegin = cNamed;
    if (put && source[nIn - 1] == none) {
        // A put without the named argument: the value is the last positional argument.
        if (positionalBegin >= cArgs)
            return DISP_E_BADPARAMCOUNT;
        source[nIn - 1] = positionalBegin++;
    }
    const std::size_t positional = cArgs - positionalBegin;
    const std::size_t fillable = put ? nIn - 1 : nIn;
    if (positional > fillable)
        return DISP_E_BADPARAMCOUNT;
    for (std::size_t i = 0; i < positional; ++i) {
        std::size_t index = cArgs - 1 - i; // the first argument is last in COM order
        if (source[i] != none)
            return fail(DISP_E_PARAMNOTFOUND, index);
        source[i] = index;
    }

    std::vector<Variant> values(nIn);
    for (std::size_t i = 0; i < nIn; ++i) {
        const ParamInfo& p = f->params[i];
        bool missing = source[i] == none || params.args[source[i]].isMissing();
        if (missing) {
            if (!p.isOptional())
                return source[i] == none ? DISP_E_BADPARAMCOUNT
                                         : fail(DISP_E_PARAMNOTOPTIONAL, source[i]);
            HRESULT hr = missingValue(p, values[i]);
            if (failed(hr))
                return hr;
            continue;
        }
        HRESULT hr = convertArgument(params.args[source[i]], p, values[i]);
        if (failed(hr))
            return fail(hr, source[i]);
    }

    void* target = info.upcast(self, f->declaringIid);
    if (target == nullptr)
        return E_UNEXPECTED;
    Variant out;
    CallFrame frame{values, f->retval ? &out : nullptr};
    clearErrorInfo(); // what the member leaves is about this call only
    HRESULT hr = guard(f->declaringIid, [&] { return f->invoker(target, frame); });
    if (failed(hr)) {
        if (excepInfo == nullptr)
            return hr;
        const std::optional<ErrorInfo>& error = peekErrorInfo();
        if (!error || error->description.isEmpty())
            return hr;
        std::optional<ErrorInfo> taken = takeErrorInfo();
        *excepInfo = ExcepInfo{};
        excepInfo->scode = hr;
        excepInfo->description = std::move(taken->description);
        excepInfo->source = taken->source.isNull() ? Bstr(info.name) : std::move(taken->source);
        return DISP_E_EXCEPTION;
    }
    if (result != nullptr)
        *result = std::move(out);
    return hr;
}

} // namespace norv::com
