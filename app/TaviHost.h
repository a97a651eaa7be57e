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
#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"

namespace norv::app {

class ShellPlatform;

// The key path under which the browser keeps this program's settings.
inline constexpr const char16_t* kOptionKeyPath =
    u"Software\\{94DDA361-A0BD-4211-8248-AC4AD9C47972}\\App";

class TaviHost final : public com::ComObject<TaviHost, com::IDispatch> {
public:
    explicit TaviHost(ShellPlatform& platform);
    ~TaviHost() override;

    // Creates a host with its UI settings.
    static com::HRESULT create(ShellPlatform& platform, com::ComPtr<TaviHost>& out);

    // dispid 1
    com::HRESULT get_application(com::IDispatch** out);
    com::HRESULT put_application(com::IDispatch* value);
    // dispid 2
    com::HRESULT get_isEmulation(com::VARIANT_BOOL* out);
    // dispid 3
    com::HRESULT get_uiSettings(TaviUISettings** out);
    // dispid 4
    com::HRESULT get_userAgentProperties(com::Bstr* out);
    com::HRESULT put_userAgentProperties(const com::Bstr& value);
    // dispid 0x60020006
    com::HRESULT run(const com::Bstr& startupUri, const com::Bstr& caption);

    // IDispatch
    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t index, com::LCID lcid, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, std::span<const com::Bstr> names,
                               com::LCID lcid, std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo* excepInfo,
                        std::uint32_t* argErr) override;

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
