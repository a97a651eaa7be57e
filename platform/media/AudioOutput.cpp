#include "platform/media/AudioOutput.h"

namespace norv::platform::media {

namespace {
GstRef<GstElement> tryDevice(const char* factory) {
    auto sink = GstRef<GstElement>::sink(gst_element_factory_make(factory, nullptr));
    if (!sink)
        return {};
    GstStateChangeReturn r = gst_element_set_state(sink.get(), GST_STATE_READY);
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    if (r == GST_STATE_CHANGE_FAILURE)
        return {};
    return sink;
}
} // namespace

GstRef<GstElement> createAudioOutput(const char** factoryName) {
    for (const char* factory : {"pulsesink", "alsasink"}) {
        if (auto sink = tryDevice(factory)) {
            if (factoryName)
                *factoryName = factory;
            return sink;
        }
    }
    auto sink = GstRef<GstElement>::sink(gst_element_factory_make("fakeaudiosink", nullptr));
    if (sink) {
        g_object_set(sink.get(), "sync", TRUE, nullptr);
        if (factoryName)
            *factoryName = "fakeaudiosink";
    } else if (factoryName) {
        *factoryName = nullptr;
    }
    return sink;
}

} // namespace norv::platform::media
