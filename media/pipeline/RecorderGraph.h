#pragma once
// RecorderGraph: the recorder's own GStreamer pipeline, which writes what the player plays
// into a RIFF/WAVE file:
//
//   appsrc "WMP Audio Stream" -> audioconvert -> audioresample
//     -> avenc_wmav2 "WMAudio Encoder DMO" -> mpwavedest "WAV Dest" -> filesink "File writer"
//
// The audio source (MPStreamSource) takes the packets the player's stream hands the
// recorder; the graph's feeding thread (the source's streaming thread) takes them, oldest
// first, and pushes them into the appsrc with a seamless timeline of its own, so a
// recording that was paused holds the recorded stretches back to back.
//
// start() links the elements for the stream's media type and runs the pipeline; finish()
// ends the stream with EOS, waits for the file writer to take it (with a bound), and
// takes the pipeline down again (unlinked, like the design's disconnected pins). While it
// runs, a failure of the pipeline (the disk full, a write refused, the 4 GiB limit of the
// format) or the file being removed stops the source at once and is kept for the
// recorder to report (failure()).
//
// Threads: start, setPaused and finish come from the recorder, serialised by it; the
// source's deliver comes from the player's streaming thread; the pipeline's bus is read
// by a synchronous handler on whichever thread posts, which only records.

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "media/pipeline/MPStreamSource.h"
#include "media/pipeline/RecordingFile.h"
#include "platform/com/HResult.h"
#include "platform/media/GstRef.h"
#include "typelib/NorvViewTypes.h"

namespace norv::media {

// A failure of a recording: its HRESULT and the text script sees.
struct RecordingFailure {
    com::HRESULT hr = com::E_FAIL;
    std::u16string message;
};

class RecorderGraph {
public:
    // How long finish() waits for the end of the stream to reach the file.
    static constexpr std::chrono::milliseconds finishBound{10000};

    // Builds the pipeline and its elements (unlinked). nullptr, with the failure in
    // `result`, when an element is missing (REGDB_E_CLASSNOTREG) or GStreamer refuses.
    static std::unique_ptr<RecorderGraph> create(com::HRESULT& result);
    ~RecorderGraph();
    RecorderGraph(const RecorderGraph&) = delete;
    RecorderGraph& operator=(const RecorderGraph&) = delete;

    // The caps of raw audio that a WAVEFORMATEX media type describes (PCM of 8, 16, 24 or
    // 32 bits, IEEE float of 32 or 64 bits, also in the extensible form); empty for any
    // other type.
    static platform::media::GstRef<GstCaps> capsOfMediaType(const typelib::AMMediaType& type);

    MPStreamSource& audioSource() { return source_; }

    // The file writer's file; set only while the graph is stopped.
    void setLocation(const std::string& path);
    std::string location() const;

    // Links the graph for `type` (already given to the audio source), runs it writing the
    // location, and lets the source take packets. `file` is the identity of the prepared
    // file, watched while recording. On failure the graph is stopped again.
    std::optional<RecordingFailure> start(const typelib::AMMediaType& type,
                                          const FileIdentity& file);
    // Pauses (the source refuses packets) or resumes the recording.
    void setPaused(bool paused);
    bool active() const { return active_; }

    // Ends the recording: what is queued is written, then the end of the stream, waited for
    // up to `bound`; then the pipeline stops and is unlinked. Returns the failure of the
    // recording, when one happened (failure() is cleared), or the time-out.
    std::optional<RecordingFailure> finish(std::chrono::milliseconds bound = finishBound);

    // Whether a failure happened while running (it stays until finish()).
    bool failed() const;

private:
    RecorderGraph() = default;

    void feed(std::uint32_t rate, std::uint32_t frameBytes);
    bool pushPacket(SamplePacket&& packet, std::uint32_t rate, std::uint32_t frameBytes);
    void fail(RecordingFailure failure);
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void teardown();

    platform::media::GstRef<GstElement> pipeline_;
    GstElement* appsrc_ = nullptr; // owned by the pipeline
    GstElement* convert_ = nullptr;
    GstElement* resample_ = nullptr;
    GstElement* encoder_ = nullptr;
    GstElement* waveDest_ = nullptr;
    GstElement* fileWriter_ = nullptr;

    MPStreamSource source_;
    std::string location_;
    FileIdentity file_;
    bool active_ = false;

    // The feeding thread and what it shares with the rest.
    std::thread feeder_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool finishing_ = false; // feed what is queued, then end the stream
    bool fed_ = false;       // the feeding thread is done
    bool eos_ = false;       // the end of the stream reached the file writer
    bool aborting_ = false;  // stop feeding at once
    std::optional<RecordingFailure> failure_;
    // Used by the feeding thread only while it runs.
    std::uint64_t framesPushed_ = 0;
    std::vector<std::uint8_t> partial_; // a frame cut between two packets
};

} // namespace norv::media
