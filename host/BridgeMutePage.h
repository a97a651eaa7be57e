#pragma once
// BridgeMutePage: the mute script's page over the script bridge of a web view: the
// document's `object` elements are found by script in the page, their `object` properties
// come back as script objects, and the values and the script go through the bridge.

#include "host/MuteScript.h"

namespace norv::web {
class ScriptBridge;
}

namespace norv::host {

class BridgeMutePage final : public MuteScriptPage {
public:
    explicit BridgeMutePage(web::ScriptBridge& bridge) : bridge_(bridge) {}

    // E_ACCESSDENIED (raised) while no document is connected.
    std::vector<com::ComPtr<com::IDispatch>> objectElementObjects() override;
    com::HRESULT setScriptValue(std::u16string_view path, const com::Variant& value) override;
    com::HRESULT runScript(std::u16string_view code) override;

private:
    web::ScriptBridge& bridge_;
};

} // namespace norv::host
