#pragma once
// FakeAudioStream: the player's stream as the recorder's tests see it. It is the stream
// (IMPStream, with an ordered audio filter list) and the services object that hands it
// out (IMPPlayerServices), and it plays real audio: each buffer of an audiotestsrc tone
// (32-bit float stereo, 44.1 kHz, 10 ms buffers) goes through each filter's process in
// list order, on a thread of the stream's own, as the player's tap hands them on.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/DispatchObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::test {

class FakeAudioStream final
    : public com::DispatchObject<FakeAudioStream, typelib::IMPStream, typelib::IMPPlayerServices> {
public:
    static constexpr std::uint32_t rate = 44100;
    static constexpr std::uint32_t frameBytes = 8; // two 32-bit float channels

    // IMPStream
    com::HRESULT insertFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) override;
    com::HRESULT removeFilter(typelib::IMPStreamFilter* pVal, std::int32_t type) override;
    com::HRESULT getStreamType(typelib::MPStreamType type,
                               typelib::AMMediaType* pMediaType) override;
    // IMPPlayerServices
    com::HRESULT audioSpectrumListener(com::IDispatch*, std::int32_t) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT get_stream(typelib::IMPStream** pVal) override;
    com::HRESULT get_recorder(typelib::IMPRecorder**) override { return com::E_NOTIMPL; }
    com::HRESULT get_settings(typelib::IMPSettings**) override { return com::E_NOTIMPL; }

    ~FakeAudioStream() override;

    // Before the first playback a stream has no type (getStreamType: OLE_E_BLANK).
    void setTyped(bool typed) { typed_ = typed; }
    bool holds(typelib::IMPStreamFilter* filter);

    // Plays `seconds` of a tone and returns when all of it went through the filters; a
    // live tone is paced in real time. `afterBuffer` is called after each buffer with the
    // seconds played so far in this call.
    void play(double frequency, double seconds, bool live = false,
              const std::function<void(double)>& afterBuffer = {});
    // Plays a tone on until stopPlaying().
    void startPlaying(double frequency, bool live);
    void stopPlaying();

    // The bytes a filter accepted (its process returned S_OK) and its last result.
    std::uint64_t acceptedBytes(typelib::IMPStreamFilter* filter);
    com::HRESULT lastResult(typelib::IMPStreamFilter* filter);

private:
    void run(double frequency, double seconds, bool live,
             const std::function<void(double)>& afterBuffer);
    void dispatch(std::vector<std::uint8_t>& bytes, double start, double end);

    std::mutex lock_;
    std::vector<com::ComPtr<typelib::IMPStreamFilter>> filters_;
    std::map<typelib::IMPStreamFilter*, std::uint64_t> accepted_;
    std::map<typelib::IMPStreamFilter*, com::HRESULT> results_;
    std::atomic<bool> typed_{true};
    std::atomic<bool> stopping_{false};
    double clock_ = 0; // the stream's time, going on across playbacks
    std::thread player_;
};

} // namespace norv::test
