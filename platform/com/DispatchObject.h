#pragma once
// DispatchObject: a native class whose dispatch interfaces are answered from their type
// information, so that script reaches the class's plain C++ overrides.
//
//   class TaviHost final : public DispatchObject<TaviHost, ITaviHost> {
//   public:
//       HRESULT get_application(IDispatch** out) override;
//       ...
//   };
//
// Each listed interface gets its own IDispatch implementation (DispatchImpl<I>), so an
// object with several dispatch interfaces answers script through whichever interface
// pointer script holds; QueryInterface for IDispatch gives the first one. Interfaces
// without type information can be mixed in: ComObject<C, DispatchImpl<IA>, IOther>.

#include "platform/com/ComObject.h"
#include "platform/com/TypeInfo.h"

namespace norv::com {

template <Interface I>
requires std::is_base_of_v<IDispatch, I>
class DispatchImpl : public I {
public:
    using Interface = I;

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID /*lcid*/, ITypeInfo** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        *out = typeInfoOf<I>();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID& riid, std::span<const Bstr> names, LCID /*lcid*/,
                          std::span<DISPID> ids) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return dispatchGetIDsOfNames(I::interfaceInfo(), names, ids);
    }
    HRESULT Invoke(DISPID id, const IID& riid, LCID /*lcid*/, std::uint16_t flags,
                   DispParams& params, Variant* result, ExcepInfo* excepInfo,
                   std::uint32_t* argErr) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return dispatchInvoke(I::interfaceInfo(), static_cast<I*>(this), id, flags, params, result,
                              excepInfo, argErr);
    }

protected:
    ~DispatchImpl() = default;
};

template <class Derived, Interface... Is>
using DispatchObject = ComObject<Derived, DispatchImpl<Is>...>;

} // namespace norv::com
