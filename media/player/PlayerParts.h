#pragma once
// The parts a player plugin holds besides its stream part, and the player's custom skin.
//
// The recorder part answers IMPRecorder (services.recorder) and records by being a stream
// filter of the audio stream; the settings part answers IMPSettings (services.settings,
// and the scriptable object "wmpsrv" the plugin hands the control's custom skin). Each
// gets the plugin's services (the player), startup and shutdown. Until they are there,
// both are placeholders that keep the life cycle and nothing else, and the player has no
// custom skin.

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

// The recorder and settings parts of a new plugin.
com::ComPtr<typelib::IMPPlugin> createRecorderPart();
com::ComPtr<typelib::IMPPlugin> createSettingsPart();

// The custom skin the control loads in uiMode "custom": "file://" and the skin file's
// path; E_NOTIMPL when there is none (the control then keeps its own user interface).
com::HRESULT customSkinFile(com::Bstr* file);

} // namespace norv::media
