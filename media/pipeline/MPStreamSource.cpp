#include "media/pipeline/MPStreamSource.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "media/pipeline/WaveFormat.h"

namespace norv::media {

namespace {

// Where a format block holds its BITMAPINFOHEADER, and the least size it needs.
constexpr std::size_t kVideoInfoBitmap = 48;
constexpr std::size_t kVideoInfo2Bitmap = 72;
constexpr std::size_t kBitmapHeaderSize = 40;

// The image size of a BITMAPINFOHEADER: biSizeImage, or the size of its rows when 0.
std::uint64_t imageSize(std::span<const std::uint8_t> format, std::size_t at) {
    const std::uint32_t sizeImage = readLE32(format, at + 20);
    if (sizeImage != 0)
        return sizeImage;
    const auto width = static_cast<std::int32_t>(readLE32(format, at + 4));
    const auto height = static_cast<std::int32_t>(readLE32(format, at + 8));
    const std::uint16_t bitCount = readLE16(format, at + 14);
    const std::uint64_t rowBits = std::uint64_t(std::abs(std::int64_t{width})) * bitCount;
    const std::uint64_t rowBytes = (rowBits + 31) / 32 * 4;
    return rowBytes * std::uint64_t(std::abs(std::int64_t{height}));
}

} // namespace

com::HRESULT MPStreamSource::largestPacketSize(const typelib::AMMediaType& type,
                                               std::uint32_t& size) {
    std::uint64_t largest = 0;
    const std::span<const std::uint8_t> format(type.format);
    if (type.formattype == kFormatWaveFormatEx) {
        if (format.size() < WaveFormat::baseSize)
            return com::VFW_E_INVALIDMEDIATYPE;
        largest = 4 * std::uint64_t{readLE32(format, 8)}; // four seconds of nAvgBytesPerSec
    } else if (type.formattype == kFormatVideoInfo || type.formattype == kFormatVideoInfo2) {
        const std::size_t at =
            type.formattype == kFormatVideoInfo ? kVideoInfoBitmap : kVideoInfo2Bitmap;
        if (format.size() < at + kBitmapHeaderSize)
            return com::VFW_E_INVALIDMEDIATYPE;
        largest = 3 * imageSize(format, at);
    }
    if (type.bFixedSizeSamples == 1)
        largest = std::max<std::uint64_t>(largest, type.lSampleSize);
    if (largest == 0)
        return com::VFW_E_SIZENOTSET;
    if (largest > 0xFFFFFFFFu)
        return com::VFW_E_INVALIDMEDIATYPE;
    size = static_cast<std::uint32_t>(largest);
    return com::S_OK;
}

com::HRESULT MPStreamSource::setMediaType(const typelib::AMMediaType& type) {
    std::uint32_t largest = 0;
    if (com::HRESULT hr = largestPacketSize(type, largest); com::failed(hr))
        return hr;
    std::lock_guard lock(lock_);
    if (connected_)
        return com::VFW_E_ALREADY_CONNECTED;
    try {
        type_ = type;
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    largest_ = largest;
    return com::S_OK;
}

std::optional<typelib::AMMediaType> MPStreamSource::mediaType() const {
    std::lock_guard lock(lock_);
    return type_;
}

std::uint32_t MPStreamSource::largestPacket() const {
    std::lock_guard lock(lock_);
    return largest_;
}

void MPStreamSource::setRunning(bool running) {
    std::lock_guard lock(lock_);
    running_ = running;
    room_.notify_all();
}

void MPStreamSource::setConnected(bool connected) {
    std::lock_guard lock(lock_);
    connected_ = connected;
    room_.notify_all();
}

com::HRESULT MPStreamSource::deliver(const std::uint8_t* bytes, std::uint32_t size,
                                     const std::int64_t* start, const std::int64_t* stop) {
    if (bytes == nullptr)
        return com::E_POINTER;
    if ((start == nullptr) != (stop == nullptr))
        return com::E_INVALIDARG;
    std::unique_lock lock(lock_);
    if (!running_)
        return com::VFW_E_NOT_RUNNING;
    if (!connected_)
        return com::VFW_E_NOT_CONNECTED;
    if (size > largest_)
        return com::VFW_E_BUFFER_OVERFLOW;
    // Room for four largest packets; a packet that fits the largest always goes into an
    // empty queue.
    const std::size_t limit = 4 * std::size_t{largest_};
    auto full = [&] {
        return queuedBytes_ > 0 && queuedBytes_ + size > limit;
    };
    if (full()) {
        room_.wait_for(lock, roomWait, [&] { return !full() || !running_ || !connected_; });
        if (!running_)
            return com::VFW_E_NOT_RUNNING;
        if (!connected_)
            return com::VFW_E_NOT_CONNECTED;
        if (full())
            return com::hresultFromWin32(com::ERROR_TIMEOUT);
    }
    try {
        SamplePacket packet;
        packet.start = start ? *start : 0;
        packet.stop = stop ? *stop : 0;
        packet.data.assign(bytes, bytes + size);
        queue_.push_back(std::move(packet));
        queuedBytes_ += size;
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    arrived_.notify_one();
    return com::S_OK;
}

std::optional<SamplePacket> MPStreamSource::takePacket(std::chrono::milliseconds wait) {
    std::unique_lock lock(lock_);
    const std::uint64_t generation = generation_;
    arrived_.wait_for(lock, wait, [&] { return !queue_.empty() || generation_ != generation; });
    if (queue_.empty())
        return std::nullopt;
    SamplePacket packet = std::move(queue_.front());
    queue_.pop_front();
    queuedBytes_ -= packet.data.size();
    room_.notify_all();
    return packet;
}

void MPStreamSource::clear() {
    std::lock_guard lock(lock_);
    queue_.clear();
    queuedBytes_ = 0;
    ++generation_;
    arrived_.notify_all();
    room_.notify_all();
}

std::size_t MPStreamSource::queuedPackets() const {
    std::lock_guard lock(lock_);
    return queue_.size();
}

std::size_t MPStreamSource::queuedBytes() const {
    std::lock_guard lock(lock_);
    return queuedBytes_;
}

} // namespace norv::media
