#pragma once
// IUnknown: reference counting and interface navigation by identifier.
//
// Interfaces are abstract structs deriving (directly or through another interface) from
// IUnknown. Each declares `static constexpr IID iid` and `using Base = <parent>`; the
// runtime walks Base to answer QueryInterface for every interface of the chain.

#include <cstdint>
#include <type_traits>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

namespace norv::com {

struct IUnknown {
    static constexpr IID iid = guid("{00000000-0000-0000-C000-000000000046}");
    using Base = void;

    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

template <class T>
concept Interface = std::is_base_of_v<IUnknown, T> && requires {
    T::iid;
};

// Typed QueryInterface: queryInterface<ITaviHost>(obj, &out).
template <Interface T>
HRESULT queryInterface(IUnknown* from, T** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (from == nullptr)
        return E_POINTER;
    return from->QueryInterface(T::iid, reinterpret_cast<void**>(out));
}

} // namespace norv::com
