#pragma once
// MPStreamSource: the recorder's source of one stream ("WMP Audio Stream"). The recorder
// hands it each buffer the player's tap gives it (deliver, on the tap's streaming thread);
// the recorder's pipeline takes the packets, oldest first, on its own thread (takePacket)
// and pushes them on (into its appsrc).
//
// Its rules: the media type is set before the output is connected, and gives the largest
// packet accepted (four seconds of audio, three images of video); a packet is taken only
// while the source runs and is connected, and one larger than the largest is refused.
// The queue holds at most four largest packets: a delivery that finds it full waits, a
// bounded time, for the pipeline to take packets (so a stream that plays faster than the
// recording is encoded is slowed down instead of filling memory).
//
//   source.setMediaType(type);          // from the stream's negotiated type
//   source.setConnected(true); source.setRunning(true);
//   source.deliver(bytes, size, &start, &stop);      // tap thread; waits only while full
//   if (auto p = source.takePacket(100ms)) push(*p); // pipeline thread

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/com/HResult.h"
#include "typelib/NorvViewTypes.h"

namespace norv::media {

struct SamplePacket {
    std::int64_t start = 0; // 100-ns units; 0 = none
    std::int64_t stop = 0;  // 100-ns units; 0 = none
    std::vector<std::uint8_t> data;
};

class MPStreamSource {
public:
    // The largest packet a stream of `type` may carry: 4 × nAvgBytesPerSec for a
    // WAVEFORMATEX format, 3 × the image size for VIDEOINFOHEADER(2), at least lSampleSize
    // for fixed-size samples. VFW_E_INVALIDMEDIATYPE for a format block too short for its
    // type, VFW_E_SIZENOTSET when no size follows.
    static com::HRESULT largestPacketSize(const typelib::AMMediaType& type, std::uint32_t& size);

    // Takes the type and its largest packet size; VFW_E_ALREADY_CONNECTED once connected.
    com::HRESULT setMediaType(const typelib::AMMediaType& type);
    std::optional<typelib::AMMediaType> mediaType() const;
    std::uint32_t largestPacket() const;

    // The pipeline's state: running (recording, not paused) and the output linked.
    void setRunning(bool running);
    void setConnected(bool connected);

    // How long a delivery waits for room in a full queue.
    static constexpr std::chrono::milliseconds roomWait{2000};

    // Queues a copy of `size` bytes. start and stop (100-ns units) are both given or both
    // null. E_POINTER without bytes, E_INVALIDARG for one time alone, VFW_E_NOT_RUNNING,
    // VFW_E_NOT_CONNECTED, VFW_E_BUFFER_OVERFLOW above the largest packet, E_OUTOFMEMORY.
    // While the queue is full it waits up to roomWait for room (0x800705B4 when none came);
    // a source that stops running meanwhile refuses the packet at once.
    com::HRESULT deliver(const std::uint8_t* bytes, std::uint32_t size, const std::int64_t* start,
                         const std::int64_t* stop);

    // The oldest packet, waiting at most `wait` for one; nullopt when none came.
    std::optional<SamplePacket> takePacket(std::chrono::milliseconds wait);
    // Frees the queued packets (the pipeline's thread stopped) and wakes a waiting taker.
    void clear();
    std::size_t queuedPackets() const;
    std::size_t queuedBytes() const;

private:
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::condition_variable room_;
    std::optional<typelib::AMMediaType> type_;
    std::uint32_t largest_ = 0;
    bool running_ = false;
    bool connected_ = false;
    std::uint64_t generation_ = 0; // counts clear() calls: a waiting taker returns
    std::deque<SamplePacket> queue_;
    std::size_t queuedBytes_ = 0;
};

} // namespace norv::media
