#include "platform/com/Dispatch.h"

#include <vector>

#include "platform/com/ErrorInfo.h"

namespace norv::com {

HRESULT getIdOfName(IDispatch* target, std::u16string_view name, DISPID& id) {
    id = DISPID_UNKNOWN;
    if (target == nullptr)
        return E_POINTER;
    const Bstr names[1] = {Bstr(name)};
    DISPID ids[1] = {DISPID_UNKNOWN};
    HRESULT hr = target->GetIDsOfNames(IID_NULL, names, LOCALE_USER_DEFAULT, ids);
    if (succeeded(hr))
        id = ids[0];
    return hr;
}

HRESULT invokeByName(IDispatch* target, std::u16string_view name, std::uint16_t flags,
                     std::span<Variant> argsInCallOrder, Variant* result) {
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = getIdOfName(target, name, id);
    if (failed(hr))
        return hr;
    // COM order: the last argument first.
    std::vector<Variant> args(argsInCallOrder.rbegin(), argsInCallOrder.rend());
    static const DISPID putName[1] = {DISPID_PROPERTYPUT};
    DispParams params{args, {}};
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 && !args.empty())
        params.namedArgs = putName;
    ExcepInfo excep;
    std::uint32_t argErr = 0;
    hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &excep, &argErr);
    if (hr == DISP_E_EXCEPTION && !excep.description.isEmpty())
        setErrorInfo(ErrorInfo{excep.description, IID_NULL, excep.source});
    return hr;
}

HRESULT putPropertyByName(IDispatch* target, std::u16string_view name, const Variant& value) {
    Variant args[1] = {value};
    VARTYPE base = value.vt() & VT_TYPEMASK;
    bool byReference =
        base == VT_DISPATCH || base == VT_UNKNOWN || (value.vt() & (VT_ARRAY | VT_BYREF)) != 0;
    if (byReference) {
        HRESULT hr = invokeByName(target, name, DISPATCH_PROPERTYPUTREF, args, nullptr);
        if (succeeded(hr))
            return hr;
        args[0] = value;
    }
    return invokeByName(target, name, DISPATCH_PROPERTYPUT, args, nullptr);
}

} // namespace norv::com
