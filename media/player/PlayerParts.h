#pragma once
// The parts a player plugin holds besides its stream part, and what the plugin asks of
// them beyond the IMPPlugin life cycle.
//
// The recorder part answers IMPRecorder (services.recorder) and is a stream filter of
// the audio stream; the settings part answers IMPSettings (services.settings, and the
// scriptable object "wmpsrv" handed to the control's custom skin) and IMPSkinSource (the
// skin the control loads in uiMode "custom"). Until they exist, both are placeholders
// that keep the life cycle and nothing else.

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

// The player's generated skin.
struct IMPSkinSource : com::IUnknown {
    static constexpr com::IID iid = com::guid("{EB4C7B03-8A71-4473-840D-4BA389D684A2}");
    using Base = com::IUnknown;

    // The skin file's path; a failure (or an empty path) when there is none.
    virtual com::HRESULT get_skinPath(com::Bstr* path) = 0;

protected:
    ~IMPSkinSource() = default;
};

// The recorder and settings parts of a new plugin.
com::ComPtr<typelib::IMPPlugin> createRecorderPart();
com::ComPtr<typelib::IMPPlugin> createSettingsPart();

} // namespace norv::media
