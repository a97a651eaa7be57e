#include "host/MuteScript.h"

#include "platform/com/Exceptions.h"

namespace norv::host {

void runMuteScript(MuteScriptPage& page, bool mute) {
    const com::Variant value = com::Variant::fromBool(mute);
    for (const com::ComPtr<com::IDispatch>& object : page.objectElementObjects()) {
        if (!object)
            continue;
        com::throwIfFailed(
            page.setScriptValue(kMuteTargetPath, com::Variant::fromDispatch(object.get())));
        com::throwIfFailed(page.setScriptValue(kMuteValuePath, value));
        com::throwIfFailed(page.runScript(kMuteScript));
    }
}

void muteForSession(MuteScriptPage& page, bool mute) noexcept {
    try {
        runMuteScript(page, mute);
    } catch (...) {
    }
}

} // namespace norv::host
