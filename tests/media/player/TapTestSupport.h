#pragma once
// Pieces shared by the player object's tests: a player made the way the page's document
// makes it (through the class table while a media service is registered) and sited on a
// page site double, native stream filters that record, change or hold samples, and a
// probe that records what reaches a sink.

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

#include "media/pipeline/MPStream.h"
#include "media/pipeline/PipelineInterfaces.h"
#include "platform/com/DispatchObject.h"
#include "script/TaviMedia.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::test {

using typelib::IMPPlayer;
using typelib::IMPPlayerServices;
using typelib::IMPStream;
using typelib::IMPStreamFilter;
using typelib::MPStreamType;

// One call of a filter, as the filter saw it.
struct SampleCall {
    MPStreamType type;
    double start;
    double end;
    VARTYPE sizeType;
    std::uint32_t size;
    std::thread::id thread;
};

// Records every call; `change` may modify the bytes in place.
class RecordingFilter final : public DispatchObject<RecordingFilter, IMPStreamFilter> {
public:
    HRESULT process(MPStreamType type, const Variant& timeStart, const Variant& timeEnd,
                    const Variant& dataBuff, const Variant& dataSize) override;

    std::vector<SampleCall> calls() const;
    std::size_t count() const;
    std::function<void(const SampleCall&, std::uint8_t* data)> change;
    HRESULT result = S_OK; // what process returns

private:
    mutable std::mutex lock_;
    std::vector<SampleCall> calls_;
};

// A filter whose call waits for someone else (IBoundedStreamFilter): each call runs
// `wait` with the deadline and stop token the tap gave it. It records how each call
// ended.
class WaitingFilter final
    : public ComObject<WaitingFilter, DispatchImpl<IMPStreamFilter>, media::IBoundedStreamFilter> {
public:
    enum class Ended { answered, deadline, interrupted };
    using Wait = std::function<Ended(std::chrono::steady_clock::time_point, std::stop_token)>;

    explicit WaitingFilter(Wait wait) : wait_(std::move(wait)) {}

    HRESULT process(MPStreamType, const Variant&, const Variant&, const Variant&,
                    const Variant&) override;
    HRESULT processWithin(MPStreamType type, const Variant& timeStart, const Variant& timeEnd,
                          const Variant& dataBuff, const Variant& dataSize,
                          std::chrono::steady_clock::time_point deadline,
                          std::stop_token interrupt) override;

    std::vector<Ended> ends() const;
    std::atomic<int> inFlight{0};

    // A wait that holds the call until the deadline passes or the tap interrupts it.
    static Ended holdUntilReleased(std::chrono::steady_clock::time_point deadline,
                                   std::stop_token interrupt);

private:
    Wait wait_;
    mutable std::mutex lock_;
    std::vector<Ended> ends_;
};

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
