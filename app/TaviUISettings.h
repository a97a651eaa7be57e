#pragma once
// TaviUISettings: the UI settings of the host (ITaviUISettings, "Local ID: UISettings"):
// the splash page, the error page and the default window declaration. Each is a plain
// text kept as an exact copy (embedded null characters survive); none is validated.

#include <mutex>

#include "platform/com/Bstr.h"
#include "platform/com/DispatchObject.h"
#include "typelib/ShellInterfaces.h"

namespace norv::app {

class TaviUISettings final : public com::DispatchObject<TaviUISettings, typelib::ITaviUISettings> {
public:
    TaviUISettings();

    // ITaviUISettings
    com::HRESULT get_splashScreenURI(com::Bstr* out) override;
    com::HRESULT put_splashScreenURI(const com::Bstr& value) override;
    com::HRESULT get_errorDialogURI(com::Bstr* out) override;
    com::HRESULT put_errorDialogURI(const com::Bstr& value) override;
    com::HRESULT get_dialogSettingsDefault(com::Bstr* out) override;
    com::HRESULT put_dialogSettingsDefault(const com::Bstr& value) override;

private:
    com::HRESULT get(const com::Bstr& field, com::Bstr* out);
    com::HRESULT put(com::Bstr& field, const com::Bstr& value);

    std::recursive_mutex lock_;
    com::Bstr splashScreenURI_;
    com::Bstr errorDialogURI_;
    com::Bstr dialogSettingsDefault_;
};

} // namespace norv::app
