#pragma once
// The mute script: how the host mutes the page's embedded players when the user's session
// is disconnected, and unmutes them when it is connected again. For each `object` element
// of the document whose `object` property is not null, in document order, the host sets
// window.tavi.___mcTarget to that object and window.tavi.___mcMuteValue to the mute value
// (a script boolean), then runs kMuteScript, which sets the target's settings.mute and
// skips, silently, a control without one.

#include <string_view>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/HResult.h"
#include "platform/com/Variant.h"

namespace norv::host {

inline constexpr std::u16string_view kMuteScript =
    u"(function(){var n =window.tavi;try{n.___mcTarget.settings.mute = n.___mcMuteValue; "
    u"}catch(e){}})();";
inline constexpr std::u16string_view kMuteTargetPath = u"window.tavi.___mcTarget";
inline constexpr std::u16string_view kMuteValuePath = u"window.tavi.___mcMuteValue";

// The page the mute script runs in (the host's page; tests use their own).
class MuteScriptPage {
public:
    virtual ~MuteScriptPage() = default;
    // The `object` property of each `object` element of the document, in document order;
    // an element whose property is null may give a null entry. May raise framework
    // exceptions.
    virtual std::vector<com::ComPtr<com::IDispatch>> objectElementObjects() = 0;
    virtual com::HRESULT setScriptValue(std::u16string_view path, const com::Variant& value) = 0;
    virtual com::HRESULT runScript(std::u16string_view code) = 0;
};

// Mutes (true) or unmutes (false) every player of the page. A failing step is raised as a
// framework exception; the players before it have been done.
void runMuteScript(MuteScriptPage& page, bool mute);

// What the host does on a session change: runMuteScript, with any failure swallowed (a
// page without players, or without script, simply stays as it is).
void muteForSession(MuteScriptPage& page, bool mute) noexcept;

} // namespace norv::host
