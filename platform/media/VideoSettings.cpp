#include "platform/media/VideoSettings.h"

#include <algorithm>
#include <cmath>

namespace norv::platform::media {

VideoSettings::VideoSettings(GstElement* balance, std::string id)
    : balance_(balance ? GstRef<GstElement>::adopt(GST_ELEMENT(gst_object_ref(balance)))
                       : GstRef<GstElement>()),
      id_(std::move(id)) {}

HRESULT VideoSettings::get(const char* property, double offset, std::int32_t* out) {
    if (out == nullptr)
        return E_POINTER;
    double value = offset;
    if (balance_)
        g_object_get(balance_.get(), property, &value, nullptr);
    *out = static_cast<std::int32_t>(std::lround((value - offset) * 100.0));
    return S_OK;
}

HRESULT VideoSettings::put(const char* property, double offset, std::int32_t value) {
    if (!balance_)
        return E_NOTIMPL;
    double setting = offset + std::clamp(value, -100, 100) / 100.0;
    g_object_set(balance_.get(), property, setting, nullptr);
    return S_OK;
}

HRESULT VideoSettings::get_brightness(std::int32_t* out) {
    return get("brightness", 0.0, out);
}

HRESULT VideoSettings::put_brightness(std::int32_t value) {
    return put("brightness", 0.0, value);
}

HRESULT VideoSettings::get_contrast(std::int32_t* out) {
    return get("contrast", 1.0, out);
}

HRESULT VideoSettings::put_contrast(std::int32_t value) {
    return put("contrast", 1.0, value);
}

HRESULT VideoSettings::get_hue(std::int32_t* out) {
    return get("hue", 0.0, out);
}

HRESULT VideoSettings::put_hue(std::int32_t value) {
    return put("hue", 0.0, value);
}

HRESULT VideoSettings::get_saturation(std::int32_t* out) {
    return get("saturation", 1.0, out);
}

HRESULT VideoSettings::put_saturation(std::int32_t value) {
    return put("saturation", 1.0, value);
}

HRESULT VideoSettings::reset() {
    if (!balance_)
        return E_NOTIMPL;
    g_object_set(balance_.get(), "brightness", 0.0, "contrast", 1.0, "hue", 0.0, "saturation", 1.0,
                 nullptr);
    return S_OK;
}

HRESULT VideoSettings::get_id(Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = Bstr::fromUtf8(id_);
    return S_OK;
}

} // namespace norv::platform::media
