#pragma once
// Pieces shared by the player object's tests: a player made the way the page's document
// makes it (through the class table while a media service is registered) and sited on a
// page site double, and a probe that records what reaches a sink.

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

#include "media/pipeline/MPStream.h"
#include "platform/com/DispatchObject.h"
#include "script/TaviMedia.h"
#include "tests/media/pipeline/FilterDoubles.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::test {

using typelib::IMPPlayer;
using typelib::IMPPlayerServices;
using typelib::IMPStream;
using typelib::IMPStreamFilter;
using typelib::MPStreamType;

// Records the buffers that reach a sink's pad.
struct SinkProbe {
    struct Seen {
        double start;
        bool silent;           // audio: every byte 0
        std::uint8_t bgr[3]{}; // video (BGRx): the pixel in the middle of the image
    };
    void attach(GstElement* sink);
    std::vector<Seen> seen() const;

private:
    static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    mutable std::mutex lock_;
    std::vector<Seen> seen_;
};

// The control's audio sink and video sink in its pipeline (no references).
GstElement* audioSinkOf(GstElement* pipeline);
GstElement* videoSinkOf(GstElement* pipeline);

// A player object sited on a page site double, with the stream part at hand. A media
// service must exist while it is made (the program's factory is then registered).
struct SitedPlayer {
    SitedPlayer();
    ~SitedPlayer();

    ComPtr<IMPPlayerServices> services() const;
    ComPtr<IMPStream> stream() const;
    media::MPStream& streamPart() const;

    TestPlayer control; // the player as the page's document made it
    ComPtr<FakeSite> site = makeObject<FakeSite>();
};

// A colour clip: `seconds` of one colour (0xRRGGBB), 320 x 240 at 30 frames a second with
// a tone, in WebM.
void makeColourClip(const std::filesystem::path& path, std::uint32_t rgb, double seconds);

} // namespace norv::test
