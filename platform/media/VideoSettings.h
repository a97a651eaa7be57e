#pragma once
// VideoSettings: the VIDEOSETTINGS element of a custom skin, over the control's
// videobalance element (between the video presenter and the video sink). Each setting runs
// from -100 to 100 (clamped), 0 leaving the picture as it is:
//   brightness -> videobalance brightness  v / 100      (-1 .. 1)
//   contrast   -> videobalance contrast    1 + v / 100  (0 .. 2)
//   hue        -> videobalance hue         v / 100      (-1 .. 1)
//   saturation -> videobalance saturation  1 + v / 100  (0 .. 2)
// The values live in the element, so every VIDEOSETTINGS made for the control agrees.

#include <string>

#include "platform/com/DispatchObject.h"
#include "platform/media/GstRef.h"
#include "platform/media/SkinInterfaces.h"

namespace norv::platform::media {

class VideoSettings final : public DispatchObject<VideoSettings, IVideoSettings> {
public:
    // `balance` may be null (GStreamer without videobalance): every put then fails with
    // E_NOTIMPL and every get reads 0.
    VideoSettings(GstElement* balance, std::string id);

    HRESULT get_brightness(std::int32_t* pVal) override;
    HRESULT put_brightness(std::int32_t pVal) override;
    HRESULT get_contrast(std::int32_t* pVal) override;
    HRESULT put_contrast(std::int32_t pVal) override;
    HRESULT get_hue(std::int32_t* pVal) override;
    HRESULT put_hue(std::int32_t pVal) override;
    HRESULT get_saturation(std::int32_t* pVal) override;
    HRESULT put_saturation(std::int32_t pVal) override;
    HRESULT reset() override;
    HRESULT get_id(Bstr* pVal) override;

private:
    // offset: 0 for the properties centred on 0, 1 for those centred on 1.
    HRESULT get(const char* property, double offset, std::int32_t* out);
    HRESULT put(const char* property, double offset, std::int32_t value);

    GstRef<GstElement> balance_;
    std::string id_;
};

} // namespace norv::platform::media
