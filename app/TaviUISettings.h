#pragma once
// TaviUISettings: the UI settings of the host (ITaviUISettings, "Local ID: UISettings"):
// the splash page, the error page and the default window declaration. Each is a plain
// text kept as an exact copy (embedded null characters survive); none is validated.

#include <mutex>

#include "platform/com/Bstr.h"
#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace norv::app {

class TaviUISettings final : public com::ComObject<TaviUISettings, com::IDispatch> {
public:
    TaviUISettings();

    // dispid 1
    com::HRESULT get_splashScreenURI(com::Bstr* out);
    com::HRESULT put_splashScreenURI(const com::Bstr& value);
    // dispid 2
    com::HRESULT get_errorDialogURI(com::Bstr* out);
    com::HRESULT put_errorDialogURI(const com::Bstr& value);
    // dispid 3
    com::HRESULT get_dialogSettingsDefault(com::Bstr* out);
    com::HRESULT put_dialogSettingsDefault(const com::Bstr& value);

    // IDispatch
    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t index, com::LCID lcid, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, std::span<const com::Bstr> names,
                               com::LCID lcid, std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo* excepInfo,
                        std::uint32_t* argErr) override;

private:
    com::HRESULT get(const com::Bstr& field, com::Bstr* out);
    com::HRESULT put(com::Bstr& field, const com::Bstr& value);

    std::recursive_mutex lock_;
    com::Bstr splashScreenURI_;
    com::Bstr errorDialogURI_;
    com::Bstr dialogSettingsDefault_;
};

} // namespace norv::app
