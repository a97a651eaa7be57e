#pragma once
// The parts a player plugin holds besides its stream part, and the player's custom skin.
//
// The recorder part (MPRecorder) answers IMPRecorder (services.recorder) and records by
// being a stream filter of the audio stream; the settings part (MPSettings) answers
// IMPSettings (services.settings, and the scriptable object "wmpsrv" the plugin hands the
// control's custom skin). Each gets the plugin's services (the player), startup and
// shutdown. The custom skin is the process's skin package (SkinPackage), which the
// settings part makes when it gets the player.

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

// The recorder part of a new plugin. A recorder whose pipeline cannot be built (an
// encoder missing from the system) is still a part: its members then fail with
// OLE_E_BLANK, and the player plays on.
com::ComPtr<typelib::IMPPlugin> createRecorderPart();
// The settings part of a new plugin.
com::ComPtr<typelib::IMPPlugin> createSettingsPart();

// The custom skin the control loads in uiMode "custom": "file://" and the skin package's
// path; E_NOTIMPL while there is none (the control then keeps its own user interface).
com::HRESULT customSkinFile(com::Bstr* file);

} // namespace norv::media
