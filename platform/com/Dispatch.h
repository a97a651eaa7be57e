#pragma once
// IDispatch: late-bound calls by dispatch identifier, as script makes them.

#include <cstdint>
#include <span>

#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

namespace norv::com {

using DISPID = std::int32_t;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr std::uint16_t DISPATCH_METHOD = 1;
constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr std::uint16_t DISPATCH_PROPERTYPUTREF = 8;

using LCID = std::uint32_t;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;

// Arguments of a call, in COM order: args[0] is the LAST argument. Named arguments
// (only DISPID_PROPERTYPUT is used) come first in args, matching namedArgs.
struct DispParams {
    std::span<Variant> args;
    std::span<const DISPID> namedArgs;
};

// Rich error of a failed call (DISP_E_EXCEPTION).
struct ExcepInfo {
    std::uint16_t code = 0;
    Bstr source;
    Bstr description;
    HRESULT scode = S_OK;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
    static constexpr IID iid = guid("{00020400-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
    virtual HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, ITypeInfo** out) = 0;
    // Names are matched without regard to case; ids receives one entry per name
    // (DISPID_UNKNOWN for an unknown one, with DISP_E_UNKNOWNNAME).
    virtual HRESULT GetIDsOfNames(const IID& riid, std::span<const Bstr> names, LCID lcid,
                                  std::span<DISPID> ids) = 0;
    virtual HRESULT Invoke(DISPID id, const IID& riid, LCID lcid, std::uint16_t flags,
                           DispParams& params, Variant* result, ExcepInfo* excepInfo,
                           std::uint32_t* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// Convenience for callers: look one name up (IID_NULL, LOCALE_USER_DEFAULT) and invoke it
// (by-name property access). Arguments are given in call order; a put passes its value as
// the named argument DISPID_PROPERTYPUT. When Invoke reports DISP_E_EXCEPTION, the
// exception's description becomes the thread's error information (so throwIfFailed
// raises it as a dispatch exception); the HRESULT is returned unchanged.
HRESULT getIdOfName(IDispatch* target, std::u16string_view name, DISPID& id);
HRESULT invokeByName(IDispatch* target, std::u16string_view name, std::uint16_t flags,
                     std::span<Variant> argsInCallOrder, Variant* result);
// Puts a property by name: objects, arrays and references are tried with
// DISPATCH_PROPERTYPUTREF first and with DISPATCH_PROPERTYPUT when that fails; everything
// else goes with DISPATCH_PROPERTYPUT. The put value is the named argument
// DISPID_PROPERTYPUT. When Invoke reports DISP_E_EXCEPTION the exception's description
// becomes the thread's error information (as with invokeByName).
HRESULT putPropertyByName(IDispatch* target, std::u16string_view name, const Variant& value);

} // namespace norv::com
