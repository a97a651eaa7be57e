#include "platform/media/MediaClasses.h"

#include <gst/gst.h>

#include <exception>

#include "platform/com/ClassTable.h"
#include "platform/media/PassThroughActivate.h"
#include "platform/media/PlayerControl.h"

namespace norv::platform::media {

bool registerMediaClasses() {
    if (!gst_is_initialized()) {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            g_warning("GStreamer cannot be initialised: %s", error ? error->message : "");
            if (error)
                g_error_free(error);
            return false;
        }
    }
    setPlatformClass(CLSID_MediaPlayer,
                     makeClassFactory([](IUnknown* outer, const IID& iid, void** out) -> HRESULT {
                         try {
                             return PlayerControl::createInstance(outer, iid, out);
                         } catch (const std::bad_alloc&) {
                             return E_OUTOFMEMORY;
                         } catch (const std::exception& e) {
                             g_warning("the media player cannot be created: %s", e.what());
                             return E_FAIL;
                         }
                     }).get());
    setPlatformClass(CLSID_MediaActivate, makeClassFactoryFor<PassThroughActivate>().get());
    return true;
}

std::string mediaFrameworkVersion() {
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    std::string text =
        std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(micro);
    if (nano != 0)
        text += "." + std::to_string(nano);
    return text;
}

} // namespace norv::platform::media
