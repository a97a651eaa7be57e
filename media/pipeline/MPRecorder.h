#pragma once
// MPRecorder: the recorder part of the player (IMPPlayerServices.recorder). It records
// what the player plays, after the page's own stream filters, into a RIFF/WAVE file of
// WMA audio: while recording it is itself a stream filter of the player's audio stream
// (IMPStream.insertFilter), and each buffer the stream hands it (IMPStreamFilter.process)
// is queued on its audio source, from where its own pipeline (RecorderGraph) encodes and
// writes it.
//
// States: stopped -> running (record) <-> paused (pause / record) -> stopped (stop, or the
// plugin's shutdown). A record before the plugin's startup is remembered and carried out
// by startup. Each recording started from the stopped state empties its file first; the
// video stream is not recorded.
//
// The file: `file` takes a file URI, an absolute path or a name relative to the folder of
// the program's executable ('\' is a folder separator too); the folders on the way are
// created. A file that exists, is not empty and is not a RIFF/WAVE file is never emptied:
// setting it or recording into it fails with E_ACCESSDENIED. The file's header is brought
// up to date about once a second while recording, so a recording cut short keeps all but
// its last second.
//
// A recording that fails while it runs (the disk full, a write refused, the file removed,
// the format's 4 GiB limit) stops taking samples at once; the next call of record, pause,
// stop, recording, paused or stoped stops it and fails with that error and its text.
//
// The owner (the player plugin):
//   HRESULT built;
//   ComPtr<MPRecorder> recorder = MPRecorder::create(built); // failed(built): no graph
//   recorder->put_services(player);  // IMPPlayerServices or IMPPlayer: gives the stream
//   recorder->startup();             // carries out a pending record
//   ...
//   recorder->shutdown();            // stops a recording
//
// Threads: script calls and the plugin's calls come on the window's thread (startup also
// from a streaming thread); process comes from the player's streaming thread and never
// takes the recorder's lock. The lock is held while the recorder calls the stream's
// insertFilter and removeFilter, which take only the stream's own short locks.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/pipeline/RecorderGraph.h"
#include "platform/com/DispatchObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class MPRecorder final
    : public com::DispatchObject<MPRecorder, typelib::IMPRecorder, typelib::IMPStreamFilter> {
public:
    // A new recorder with its graph; `result` receives the graph's construction result
    // (on failure the recorder has no graph and its methods return OLE_E_BLANK).
    static com::ComPtr<MPRecorder> create(com::HRESULT& result);

    MPRecorder();
    ~MPRecorder() override;

    // IMPPlugin
    com::HRESULT startup() override;
    com::HRESULT shutdown() override;
    com::HRESULT get_id(com::Variant* pVal) override;
    com::HRESULT get_started(com::VARIANT_BOOL* pVal) override;
    com::HRESULT get_init(com::Variant* pVal) override;
    com::HRESULT put_init(const com::Variant& pVal) override;
    com::HRESULT get_settings(com::Variant* pVal) override;
    com::HRESULT put_settings(const com::Variant& pVal) override;
    com::HRESULT get_services(com::IDispatch** pVal) override;
    com::HRESULT put_services(com::IDispatch* pVal) override;

    // IMPRecorder
    com::HRESULT get_file(com::Bstr* pVal) override;
    com::HRESULT put_file(const com::Bstr& pVal) override;
    com::HRESULT get_duration(double* pVal) override;
    com::HRESULT get_paused(com::VARIANT_BOOL* pVal) override;
    com::HRESULT get_stoped(com::VARIANT_BOOL* pVal) override;
    com::HRESULT get_recording(com::VARIANT_BOOL* pVal) override;
    com::HRESULT stop() override;
    com::HRESULT pause() override;
    com::HRESULT record() override;

    // IMPStreamFilter
    com::HRESULT process(typelib::MPStreamType type, const com::Variant& timeStart,
                         const com::Variant& timeEnd, const com::Variant& dataBuff,
                         const com::Variant& dataSize) override;

private:
    enum class State { stopped = 0, paused = 1, running = 2 };

    // Callers hold lock_. recordLocked returns an HRESULT or raises a framework exception;
    // stopLocked returns the failure of the recording it ended, if any.
    com::HRESULT recordLocked();
    com::HRESULT startLocked();
    std::optional<RecordingFailure> stopLocked();
    // Raises the failure of a recording that failed (stopping it first), once.
    void raisePendingFailure();
    com::HRESULT readState(com::VARIANT_BOOL* pVal, State wanted);

    std::recursive_mutex lock_;
    std::unique_ptr<RecorderGraph> graph_;
    // The audio source of the graph; set once, read by process without the lock.
    MPStreamSource* audio_ = nullptr;

    bool started_ = false;
    bool recordPending_ = false;
    State state_ = State::stopped;
    // A failure that ended a recording without a script call to report it (shutdown).
    std::optional<RecordingFailure> unreported_;
    std::int32_t streams_ = 0; // the stream set recorded: bit 0 audio
    com::Variant init_;
    com::Variant settings_;
    com::ComPtr<com::IDispatch> services_;
    com::ComPtr<typelib::IMPStream> stream_;
    // The stream the recorder inserted itself into (removed from it on stop even when the
    // services changed meanwhile).
    com::ComPtr<typelib::IMPStream> insertedInto_;
};

} // namespace norv::media
