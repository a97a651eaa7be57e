#include "media/player/PlayerParts.h"

#include <glib.h>

#include "media/pipeline/MPRecorder.h"
#include "media/player/MPSettings.h"
#include "media/player/SkinPackage.h"

namespace norv::media {

using namespace com;

ComPtr<typelib::IMPPlugin> createRecorderPart() {
    HRESULT built = S_OK;
    ComPtr<MPRecorder> recorder = MPRecorder::create(built);
    if (failed(built))
        g_warning("player: the recorder cannot record (0x%08X)", static_cast<unsigned>(built));
    return recorder.as<typelib::IMPPlugin>();
}

ComPtr<typelib::IMPPlugin> createSettingsPart() {
    return makeObject<MPSettings>().as<typelib::IMPPlugin>();
}

HRESULT customSkinFile(Bstr* file) {
    return SkinPackage::customUiMode(file);
}

} // namespace norv::media
