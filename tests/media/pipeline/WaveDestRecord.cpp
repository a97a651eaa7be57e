// A recording that runs until it is killed: a live tone encoded by avenc_wmav2 and
// written by the WAV writer to the file named by the first argument.

#include <gst/gst.h>

#include <cstdio>
#include <string>

#include "media/pipeline/MPWaveDest.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    gst_init(nullptr, nullptr);
    if (!norv::media::registerWaveDest())
        return 1;
    std::string launch =
        std::string("audiotestsrc is-live=true freq=440 ! audio/x-raw,rate=44100,channels=2 ! "
                    "audioconvert ! avenc_wmav2 ! ") +
        norv::media::kWaveDestFactory + " ! filesink location=" + argv[1];
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "%s\n", error ? error->message : "no pipeline");
        return 1;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    // Runs until an error or the end; the test kills it long before either.
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    int code = msg != nullptr && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR ? 1 : 0;
    if (msg != nullptr)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return code;
}
