#include "media/player/PlayerParts.h"

#include "media/player/MPPlaceholderPart.h"

namespace norv::media {

using namespace com;

ComPtr<typelib::IMPPlugin> createRecorderPart() {
    return makeObject<MPPlaceholderPart>();
}

ComPtr<typelib::IMPPlugin> createSettingsPart() {
    return makeObject<MPPlaceholderPart>();
}

HRESULT customSkinFile(Bstr* file) {
    if (file == nullptr)
        return E_POINTER;
    return E_NOTIMPL;
}

} // namespace norv::media
