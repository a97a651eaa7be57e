#pragma once
// Type information: the description of dispatch interfaces (members, dispatch identifiers,
// parameters), enumerations and records, as a type library carries it, and the binding of
// each member to the C++ virtual function that implements it.
//
// An interface is declared once, as an abstract struct whose static interfaceInfo()
// describes its members by pointers to its own virtual functions; parameter types are
// deduced from those pointers:
//
//   struct ITaviUISettings : IDispatch {
//       static constexpr IID iid = guid("{...}");
//       using Base = IDispatch;
//       virtual HRESULT get_splashScreenURI(Bstr* pVal) = 0;
//       virtual HRESULT put_splashScreenURI(const Bstr& pVal) = 0;
//       static const InterfaceInfo& interfaceInfo() {
//           static const InterfaceInfo info = describeInterface<ITaviUISettings>(
//               u"ITaviUISettings", u"Local ID: UISettings",
//               propget(1, u"splashScreenURI", &ITaviUISettings::get_splashScreenURI),
//               propput(1, u"splashScreenURI", &ITaviUISettings::put_splashScreenURI));
//           return info;
//       }
//   };
//
// The description is built once, on first use, and cached. A native class then implements
// the interface with plain overrides; DispatchObject (DispatchObject.h) answers IDispatch
// from the description. Members of the Base interface (when it has a description) come
// first, as in a type library.
//
// Parameter types: std::int32_t (VT_I4), std::uint32_t (VT_UI4), std::uint8_t (VT_UI1),
// VARIANT_BOOL (VT_BOOL; 16-bit parameters are script booleans), float (VT_R4), double
// (VT_R8), Bstr (VT_BSTR, by value or const reference), Variant (VT_VARIANT, no
// conversion), IDispatch* / IUnknown* / any interface pointer (VT_DISPATCH for interfaces
// derived from IDispatch, else VT_UNKNOWN; the argument is queried for the interface),
// enumerations (VT_I4). A trailing pointer to any of these value types (for example
// Bstr*, IDispatch**, std::int32_t*) is the [out, retval] result. Other types (records)
// take part by specialising ArgTraits.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Variant.h"

namespace norv::com {

struct InterfaceInfo;

enum class InvokeKind : std::uint16_t {
    Method = DISPATCH_METHOD,
    PropertyGet = DISPATCH_PROPERTYGET,
    PropertyPut = DISPATCH_PROPERTYPUT,
    PropertyPutRef = DISPATCH_PROPERTYPUTREF,
};

// Parameter flags, with the type library's values.
constexpr std::uint16_t PARAMFLAG_NONE = 0;
constexpr std::uint16_t PARAMFLAG_FIN = 0x1;
constexpr std::uint16_t PARAMFLAG_FOUT = 0x2;
constexpr std::uint16_t PARAMFLAG_FRETVAL = 0x8;
constexpr std::uint16_t PARAMFLAG_FOPT = 0x10;
constexpr std::uint16_t PARAMFLAG_FHASDEFAULT = 0x20;

constexpr DISPID MEMBERID_NIL = DISPID_UNKNOWN;

struct ParamInfo {
    std::u16string name;
    VARTYPE vt = VT_EMPTY;   // declared type
    std::u16string userType; // name of the enumeration or record, if any
    IID iid = IID_NULL;      // interface of an object parameter
    // The description of that interface, when it has one (looked up on use, so that an
    // interface can name itself in its own members).
    const InterfaceInfo& (*interfaceInfo)() = nullptr;
    std::uint16_t flags = PARAMFLAG_NONE;
    Variant defaultValue; // when flags has PARAMFLAG_FHASDEFAULT

    bool isOptional() const { return (flags & PARAMFLAG_FOPT) != 0; }
    bool hasDefault() const { return (flags & PARAMFLAG_FHASDEFAULT) != 0; }
    // The name of the parameter's enumeration, record or described interface, if any.
    std::u16string typeName() const;
};

// The arguments of one bound call: one converted value per input parameter, in declaration
// order, and the place for the result (null when the member has none).
struct CallFrame {
    std::span<Variant> args;
    Variant* result = nullptr;
};

// Calls the bound C++ function on `self`, which points at the interface that declares it.
using Invoker = std::function<HRESULT(void* self, CallFrame& frame)>;

struct FuncInfo {
    DISPID memid = DISPID_UNKNOWN;
    InvokeKind kind = InvokeKind::Method;
    std::u16string name;
    std::vector<ParamInfo> params;   // inputs, the put value last; without the result
    std::optional<ParamInfo> retval; // [out, retval]
    std::u16string doc;
    IID declaringIid = IID_NULL; // the interface whose virtual function implements it
    Invoker invoker;
};

struct ITypeInfo;

struct InterfaceInfo {
    IID iid = IID_NULL;
    std::u16string name;
    std::u16string doc;
    const InterfaceInfo* base = nullptr; // described base interface, if any
    std::vector<FuncInfo> funcs;         // the base's members first
    // Converts a pointer to this interface into a pointer to `declaring`, one of its bases.
    void* (*upcast)(void* self, const IID& declaring) = nullptr;

    // The member with this identifier that serves a call with these DISPATCH_* flags.
    const FuncInfo* findForCall(DISPID id, std::uint16_t flags) const;
    bool hasMember(DISPID id) const;
};

struct EnumInfo {
    std::u16string name;
    std::u16string doc;
    std::vector<std::pair<std::u16string, std::int32_t>> values;
};

struct RecordField {
    std::u16string name;
    VARTYPE vt = VT_EMPTY; // VT_RECORD for a GUID field
    std::u16string typeName;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct RecordInfo {
    std::u16string name;
    std::u16string doc;
    std::uint32_t size = 0;
    std::vector<RecordField> fields;
};

struct TypeLibInfo {
    GUID libid;
    std::u16string name;
    std::uint16_t majorVersion = 0;
    std::uint16_t minorVersion = 0;
    std::u16string helpString;
    std::vector<const InterfaceInfo*> interfaces;
    std::vector<EnumInfo> enums;
    std::vector<RecordInfo> records;
};

// The description of one interface, as the dispatch implementation and callers see it.
struct ITypeInfo : IUnknown {
    static constexpr IID iid = guid("{00020401-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    // The whole description (lives as long as the program).
    virtual HRESULT GetInterfaceInfo(const InterfaceInfo** out) = 0;
    // Names are matched without regard to case: names[0] is the member, further names its
    // parameters (whose identifiers are their positions). Unknown names get DISPID_UNKNOWN
    // and the result DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(std::span<const Bstr> names, std::span<DISPID> ids) = 0;
    // Calls a member on `instance`, a pointer to this interface.
    virtual HRESULT Invoke(void* instance, DISPID id, std::uint16_t flags, DispParams& params,
                           Variant* result, ExcepInfo* excepInfo, std::uint32_t* argErr) = 0;
    // Name and documentation string of a member, or of the interface for MEMBERID_NIL.
    virtual HRESULT GetDocumentation(DISPID memid, Bstr* name, Bstr* doc) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    static constexpr IID iid = guid("{00020402-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    virtual HRESULT GetLibraryInfo(const TypeLibInfo** out) = 0;
    // TYPE_E_ELEMENTNOTFOUND when the library does not describe the interface.
    virtual HRESULT GetTypeInfoOfGuid(const IID& iid, ITypeInfo** out) = 0;
    // index -1: the library's name and help string; else the interface at that index.
    virtual HRESULT GetDocumentation(std::int32_t index, Bstr* name, Bstr* doc) = 0;

protected:
    ~ITypeLib() = default;
};

// A type library object over a description that lives as long as the program.
ComPtr<ITypeLib> createTypeLib(const TypeLibInfo& info);

// The dispatch implementation shared by every described interface.
HRESULT dispatchGetIDsOfNames(const InterfaceInfo& info, std::span<const Bstr> names,
                              std::span<DISPID> ids);
// `self` points at the interface `info` describes. Arguments are matched to parameters
// (the named argument DISPID_PROPERTYPUT is the put value; other named arguments name
// parameters by position), missing optional ones take their default (or, without one,
// the missing marker for Variant parameters and the zero value otherwise), and each is
// converted to its declared type with changeType; VT_NULL and VT_EMPTY pass as null
// objects. Errors: DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND,
// DISP_E_PARAMNOTOPTIONAL, DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW (argErr = the index of
// the argument in params.args). A failing member whose error information has a
// description gives DISP_E_EXCEPTION with excepInfo filled (scode = its HRESULT); without
// a description (or without excepInfo) its HRESULT is returned as it is.
HRESULT dispatchInvoke(const InterfaceInfo& info, void* self, DISPID id, std::uint16_t flags,
                       DispParams& params, Variant* result, ExcepInfo* excepInfo,
                       std::uint32_t* argErr);

// Case-insensitive comparison of member names.
bool namesEqual(std::u16string_view a, std::u16string_view b);

// ---------------------------------------------------------------------------------------
// Argument traits: how a C++ parameter type travels in a Variant.

template <class T, class = void>
struct ArgTraits; // not a dispatch type

template <class T>
concept DispatchArg = requires {
    ArgTraits<T>::vt;
};

namespace detail {
template <class T, VARTYPE VT>
struct ScalarTraits {
    static constexpr VARTYPE vt = VT;
    using Holder = T;
    static HRESULT fromVariant(const Variant& v, Holder& h) {
        if constexpr (VT == VT_I4)
            h = v.i4();
        else if constexpr (VT == VT_UI4)
            h = v.ui4();
        else if constexpr (VT == VT_UI1)
            h = v.ui1();
        else if constexpr (VT == VT_BOOL)
            h = v.boolVal();
        else if constexpr (VT == VT_R4)
            h = v.r4();
        else
            h = v.r8();
        return S_OK;
    }
    static T pass(Holder& h) { return h; }
    using OutHolder = T;
    static Variant toVariant(OutHolder& h) {
        if constexpr (VT == VT_I4)
            return Variant::fromI4(h);
        else if constexpr (VT == VT_UI4)
            return Variant::fromUI4(h);
        else if constexpr (VT == VT_UI1)
            return Variant::fromUI1(h);
        else if constexpr (VT == VT_BOOL)
            return Variant::fromBool(h != VARIANT_FALSE);
        else if constexpr (VT == VT_R4)
            return Variant::fromR4(h);
        else
            return Variant::fromR8(h);
    }
    static std::u16string typeName() { return {}; }
    static IID iid() { return IID_NULL; }
};
} // namespace detail

template <>
struct ArgTraits<std::int32_t> : detail::ScalarTraits<std::int32_t, VT_I4> {};
template <>
struct ArgTraits<std::uint32_t> : detail::ScalarTraits<std::uint32_t, VT_UI4> {};
template <>
struct ArgTraits<std::uint8_t> : detail::ScalarTraits<std::uint8_t, VT_UI1> {};
template <>
struct ArgTraits<VARIANT_BOOL> : detail::ScalarTraits<VARIANT_BOOL, VT_BOOL> {};
template <>
struct ArgTraits<float> : detail::ScalarTraits<float, VT_R4> {};
template <>
struct ArgTraits<double> : detail::ScalarTraits<double, VT_R8> {};

template <class E>
struct ArgTraits<E, std::enable_if_t<std::is_enum_v<E>>> {
    static constexpr VARTYPE vt = VT_I4;
    using Holder = E;
    static HRESULT fromVariant(const Variant& v, Holder& h) {
        h = static_cast<E>(v.i4());
        return S_OK;
    }
    static E pass(Holder& h) { return h; }
    using OutHolder = E;
    static Variant toVariant(OutHolder& h) { return Variant::fromI4(static_cast<std::int32_t>(h)); }
    // An enumeration names itself with a function typeNameOf(E) found by argument lookup.
    static std::u16string typeName() {
        if constexpr (requires { typeNameOf(E{}); })
            return typeNameOf(E{});
        else
            return {};
    }
    static IID iid() { return IID_NULL; }
};

template <>
struct ArgTraits<Bstr> {
    static constexpr VARTYPE vt = VT_BSTR;
    using Holder = const Bstr*;
    static HRESULT fromVariant(const Variant& v, Holder& h) {
        h = &v.bstr();
        return S_OK;
    }
    static const Bstr& pass(Holder& h) { return *h; }
    using OutHolder = Bstr;
    static Variant toVariant(OutHolder& h) { return Variant::fromBstr(std::move(h)); }
    static std::u16string typeName() { return {}; }
    static IID iid() { return IID_NULL; }
};

template <>
struct ArgTraits<Variant> {
    static constexpr VARTYPE vt = VT_VARIANT;
    using Holder = const Variant*;
    static HRESULT fromVariant(const Variant& v, Holder& h) {
        h = &v;
        return S_OK;
    }
    static const Variant& pass(Holder& h) { return *h; }
    using OutHolder = Variant;
    static Variant toVariant(OutHolder& h) { return std::move(h); }
    static std::u16string typeName() { return {}; }
    static IID iid() { return IID_NULL; }
};

template <Interface I>
struct ArgTraits<I*> {
    static constexpr bool isDispatch = std::is_base_of_v<IDispatch, I>;
    static constexpr VARTYPE vt = isDispatch ? VT_DISPATCH : VT_UNKNOWN;
    using Holder = ComPtr<I>;
    static HRESULT fromVariant(const Variant& v, Holder& h) {
        IUnknown* unk = v.unknown();
        if (unk == nullptr) {
            h = nullptr;
            return S_OK;
        }
        if constexpr (std::is_same_v<I, IDispatch>) {
            if (v.vt() == VT_DISPATCH) {
                h = v.dispatch();
                return S_OK;
            }
        } else if constexpr (std::is_same_v<I, IUnknown>) {
            h = unk;
            return S_OK;
        }
        return succeeded(unk->QueryInterface(I::iid, h.putVoid())) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    static I* pass(Holder& h) { return h.get(); }
    using OutHolder = I*;
    static Variant toVariant(OutHolder& h) {
        ComPtr<I> owned = ComPtr<I>::adopt(std::exchange(h, nullptr));
        if constexpr (isDispatch)
            return Variant::fromDispatch(owned.get());
        else
            return Variant::fromUnknown(owned.get());
    }
    static std::u16string typeName() { return {}; }
    static IID iid() { return I::iid; }
    static constexpr auto describe() {
        if constexpr (requires { I::interfaceInfo(); })
            return &I::interfaceInfo;
        else
            return static_cast<const InterfaceInfo& (*)()>(nullptr);
    }
};

// ---------------------------------------------------------------------------------------
// Describing members

// A parameter's name, and whether it is optional (with or without a default value).
struct Param {
    Param(const char16_t* n) : name(n) {}
    const char16_t* name;
    bool optional = false;
    std::optional<Variant> defaultValue;
};
inline Param optional(const char16_t* name) {
    Param p(name);
    p.optional = true;
    return p;
}
inline Param optional(const char16_t* name, Variant defaultValue) {
    Param p(name);
    p.optional = true;
    p.defaultValue = std::move(defaultValue);
    return p;
}

namespace detail {

template <class T>
using Bare = std::remove_cvref_t<T>;

// A trailing T* whose pointee is a dispatch value type (not an interface) is the result.
template <class T>
constexpr bool isOutParam() {
    if constexpr (std::is_pointer_v<T> && !std::is_const_v<std::remove_pointer_t<T>>) {
        using Pointee = std::remove_pointer_t<T>;
        return !Interface<Pointee> && DispatchArg<Pointee>;
    } else {
        return false;
    }
}

template <class... Args>
constexpr bool lastIsOut() {
    if constexpr (sizeof...(Args) == 0)
        return false;
    else
        return isOutParam<std::tuple_element_t<sizeof...(Args) - 1, std::tuple<Args...>>>();
}

template <class T>
ParamInfo paramInfoFor(std::uint16_t flags) {
    using Tr = ArgTraits<T>;
    ParamInfo p;
    p.vt = Tr::vt;
    p.userType = Tr::typeName();
    p.iid = Tr::iid();
    if constexpr (requires { Tr::describe(); })
        p.interfaceInfo = Tr::describe();
    p.flags = flags;
    return p;
}

template <class C, class... Args, std::size_t... In>
HRESULT callMember(C* self, HRESULT (C::*member)(Args...), CallFrame& frame,
                   std::index_sequence<In...>) {
    constexpr bool hasOut = lastIsOut<Args...>();
    using ArgTuple = std::tuple<Args...>;
    std::tuple<typename ArgTraits<Bare<std::tuple_element_t<In, ArgTuple>>>::Holder...> holders;
    HRESULT hr = S_OK;
    // Fill the holders in order, stopping at the first failure.
    ((succeeded(hr) ? (hr = ArgTraits<Bare<std::tuple_element_t<In, ArgTuple>>>::fromVariant(
                           frame.args[In], std::get<In>(holders)))
                    : hr),
     ...);
    if (failed(hr))
        return hr;
    if constexpr (hasOut) {
        using OutT = std::remove_pointer_t<std::tuple_element_t<sizeof...(Args) - 1, ArgTuple>>;
        typename ArgTraits<OutT>::OutHolder out{};
        hr = (self->*member)(
            ArgTraits<Bare<std::tuple_element_t<In, ArgTuple>>>::pass(std::get<In>(holders))...,
            &out);
        if (succeeded(hr) && frame.result != nullptr)
            *frame.result = ArgTraits<OutT>::toVariant(out);
        else if constexpr (Interface<std::remove_pointer_t<OutT>>)
            ComPtr<std::remove_pointer_t<OutT>>::adopt(out); // drop what a failing call left
        return hr;
    } else {
        return (self->*member)(
            ArgTraits<Bare<std::tuple_element_t<In, ArgTuple>>>::pass(std::get<In>(holders))...);
    }
}

template <class C, class... Args>
FuncInfo bind(DISPID id, InvokeKind kind, const char16_t* name, HRESULT (C::*member)(Args...),
              std::initializer_list<Param> names, const char16_t* doc) {
    constexpr bool hasOut = lastIsOut<Args...>();
    constexpr std::size_t inCount = sizeof...(Args) - (hasOut ? 1 : 0);
    using ArgTuple = std::tuple<Args...>;

    FuncInfo f;
    f.memid = id;
    f.kind = kind;
    f.name = name;
    f.doc = doc ? doc : u"";
    f.declaringIid = C::iid;
    [&]<std::size_t... In>(std::index_sequence<In...>) {
        (f.params.push_back(paramInfoFor<Bare<std::tuple_element_t<In, ArgTuple>>>(PARAMFLAG_FIN)),
         ...);
    }
    (std::make_index_sequence<inCount>{});
    if constexpr (hasOut) {
        using OutT = std::remove_pointer_t<std::tuple_element_t<sizeof...(Args) - 1, ArgTuple>>;
        f.retval = paramInfoFor<OutT>(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
        f.retval->name = u"pVal";
    }
    if (names.size() > inCount + (hasOut ? 1 : 0))
        throw std::logic_error("more parameter names than parameters");
    std::size_t i = 0;
    for (const Param& p : names) {
        if (i < inCount) {
            ParamInfo& info = f.params[i];
            info.name = p.name;
            if (p.optional)
                info.flags |= PARAMFLAG_FOPT;
            if (p.defaultValue) {
                info.flags |= PARAMFLAG_FHASDEFAULT;
                if (failed(changeType(info.defaultValue, *p.defaultValue,
                                      info.vt == VT_VARIANT ? p.defaultValue->vt() : info.vt)))
                    throw std::logic_error("default value of the wrong type");
            }
        } else {
            f.retval->name = p.name;
        }
        ++i;
    }
    for (std::size_t k = i; k < inCount; ++k)
        f.params[k].name = kind == InvokeKind::PropertyPut || kind == InvokeKind::PropertyPutRef
                               ? u"newVal"
                               : u"arg" + std::u16string(1, static_cast<char16_t>(u'0' + k));
    // Once an optional parameter appears, the rest must be optional too.
    bool seenOptional = false;
    for (const ParamInfo& p : f.params) {
        if (seenOptional && !p.isOptional())
            throw std::logic_error("a required parameter after an optional one");
        seenOptional = seenOptional || p.isOptional();
    }
    switch (kind) {
    case InvokeKind::PropertyGet:
        if (!hasOut)
            throw std::logic_error("a property get needs a result");
        break;
    case InvokeKind::PropertyPut:
    case InvokeKind::PropertyPutRef:
        if (hasOut || inCount == 0 || seenOptional)
            throw std::logic_error("a property put takes its value as the last parameter");
        break;
    case InvokeKind::Method:
        break;
    }
    f.invoker = [member](void* self, CallFrame& frame) -> HRESULT {
        return callMember(static_cast<C*>(self), member, frame,
                          std::make_index_sequence<inCount>{});
    };
    return f;
}

template <class I>
void* upcastTo(void* self, const IID& declaring) {
    I* p = static_cast<I*>(self);
    if (I::iid == declaring)
        return p;
    if constexpr (!std::is_void_v<typename I::Base>)
        return upcastTo<typename I::Base>(static_cast<typename I::Base*>(p), declaring);
    return nullptr;
}

void checkInterfaceInfo(const InterfaceInfo& info);

} // namespace detail

template <class C, class... Args>
FuncInfo method(DISPID id, const char16_t* name, HRESULT (C::*member)(Args...),
                std::initializer_list<Param> params = {}, const char16_t* doc = nullptr) {
    return detail::bind(id, InvokeKind::Method, name, member, params, doc);
}
template <class C, class... Args>
FuncInfo propget(DISPID id, const char16_t* name, HRESULT (C::*member)(Args...),
                 std::initializer_list<Param> params = {}, const char16_t* doc = nullptr) {
    return detail::bind(id, InvokeKind::PropertyGet, name, member, params, doc);
}
template <class C, class... Args>
FuncInfo propput(DISPID id, const char16_t* name, HRESULT (C::*member)(Args...),
                 std::initializer_list<Param> params = {}, const char16_t* doc = nullptr) {
    return detail::bind(id, InvokeKind::PropertyPut, name, member, params, doc);
}
template <class C, class... Args>
FuncInfo propputref(DISPID id, const char16_t* name, HRESULT (C::*member)(Args...),
                    std::initializer_list<Param> params = {}, const char16_t* doc = nullptr) {
    return detail::bind(id, InvokeKind::PropertyPutRef, name, member, params, doc);
}

// Builds the description of interface I from its members (each made by method, propget,
// propput or propputref with a pointer to a virtual function of I or of a base of I).
// Throws std::logic_error for a malformed description (two members of the same name,
// identifier and kind; parameters in the wrong order), so a mistake fails on first use.
template <Interface I, class... Funcs>
InterfaceInfo describeInterface(const char16_t* name, const char16_t* doc, Funcs&&... funcs) {
    InterfaceInfo info;
    info.iid = I::iid;
    info.name = name;
    info.doc = doc ? doc : u"";
    if constexpr (requires { I::Base::interfaceInfo(); }) {
        info.base = &I::Base::interfaceInfo();
        info.funcs = info.base->funcs;
    }
    (info.funcs.push_back(std::forward<Funcs>(funcs)), ...);
    info.upcast = &detail::upcastTo<I>;
    detail::checkInterfaceInfo(info);
    return info;
}

// The type information object of a description that lives as long as the program; one
// object per description, made on first use.
ITypeInfo* typeInfoFor(const InterfaceInfo& info);
template <Interface I>
ITypeInfo* typeInfoOf() {
    return typeInfoFor(I::interfaceInfo());
}

} // namespace norv::com
