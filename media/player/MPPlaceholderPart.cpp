#include "media/player/MPPlaceholderPart.h"

namespace norv::media {

using namespace com;

HRESULT MPPlaceholderPart::startup() {
    state_.setStarted(true);
    return S_OK;
}

HRESULT MPPlaceholderPart::shutdown() {
    state_.setStarted(false);
    return S_OK;
}

HRESULT MPPlaceholderPart::put_init(const Variant& pVal) {
    state_.putInit(pVal);
    return S_OK;
}

HRESULT MPPlaceholderPart::put_settings(const Variant& pVal) {
    state_.putSettings(pVal);
    return S_OK;
}

HRESULT MPPlaceholderPart::put_services(IDispatch* pVal) {
    state_.putServices(pVal);
    return S_OK;
}

} // namespace norv::media
