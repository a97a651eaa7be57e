#pragma once
// TaviHost: the host object (ITaviHost, "Prog ID: Tavimark.Host"). It owns the UI
// settings, an optional application object, the user agent and the protocol registrar,
// and its `run` opens the host window on the startup address and runs the message loop
// until the last host window is gone.

#include <mutex>

#include "app/ProtocolRegistrar.h"
#include "app/TaviUISettings.h"
#include "app/UserAgent.h"
#include "platform/com/Bstr.h"
#include "platform/com/DispatchObject.h"
#include "typelib/ShellInterfaces.h"

namespace norv::app {

class ShellPlatform;

// The key path under which the browser keeps this program's settings.
inline constexpr const char16_t* kOptionKeyPath =
    u"Software\\{94DDA361-A0BD-4211-8248-AC4AD9C47972}\\App";

class TaviHost final : public com::DispatchObject<TaviHost, typelib::ITaviHost> {
public:
    explicit TaviHost(ShellPlatform& platform);
    ~TaviHost() override;

    // Creates a host with its UI settings.
    static com::HRESULT create(ShellPlatform& platform, com::ComPtr<TaviHost>& out);

    // ITaviHost
    com::HRESULT get_application(com::IDispatch** out) override;
    com::HRESULT put_application(com::IDispatch* value) override;
    com::HRESULT get_isEmulation(com::VARIANT_BOOL* out) override;
    com::HRESULT get_uiSettings(typelib::ITaviUISettings** out) override;
    com::HRESULT get_userAgentProperties(com::Bstr* out) override;
    com::HRESULT put_userAgentProperties(const com::Bstr& value) override;
    com::HRESULT run(const com::Bstr& startupUri, const com::Bstr& caption) override;

    // The user-agent text for a request: the composed user agent, or empty.
    std::u16string userAgentForRequest();
    ProtocolRegistrar& protocolRegistrar() { return registrar_; }
    // The raw user-agent properties (for tests and diagnostics).
    std::string userAgentProperties();

private:
    com::HRESULT runGuarded(const com::Bstr& startupUri, const com::Bstr& caption,
                            std::unique_lock<std::recursive_mutex>& lock);

    ShellPlatform& platform_;
    std::recursive_mutex lock_;
    com::ComPtr<com::IDispatch> application_;
    com::ComPtr<TaviUISettings> uiSettings_;
    UserAgent userAgent_;
    ProtocolRegistrar registrar_;
};

} // namespace norv::app
