// The recorder's stream source: the largest packet each media type allows, the packets it
// refuses, and the hand-over of packets to the recorder's pipeline.

#include <gtest/gtest.h>

#include <future>

#include "media/pipeline/MPStreamSource.h"
#include "media/pipeline/WaveFormat.h"

namespace norv::media {
namespace {

using namespace std::chrono_literals;
using typelib::AMMediaType;

AMMediaType audioType(std::uint32_t avgBytesPerSec, std::size_t formatSize = 18) {
    WaveFormat f;
    f.formatTag = kWaveFormatIeeeFloat;
    f.channels = 2;
    f.samplesPerSec = 44100;
    f.avgBytesPerSec = avgBytesPerSec;
    f.blockAlign = 8;
    f.bitsPerSample = 32;
    AMMediaType t;
    t.formattype = kFormatWaveFormatEx;
    t.format = f.toBytes();
    t.format.resize(formatSize);
    return t;
}

// A video type whose BITMAPINFOHEADER sits at `bitmapAt`.
AMMediaType videoType(const com::GUID& formatType, std::size_t bitmapAt, std::int32_t width,
                      std::int32_t height, std::uint16_t bits, std::uint32_t sizeImage) {
    AMMediaType t;
    t.formattype = formatType;
    t.format.assign(bitmapAt, 0);
    appendLE32(t.format, 40);
    appendLE32(t.format, static_cast<std::uint32_t>(width));
    appendLE32(t.format, static_cast<std::uint32_t>(height));
    appendLE16(t.format, 1);
    appendLE16(t.format, bits);
    appendLE32(t.format, 0);
    appendLE32(t.format, sizeImage);
    t.format.resize(bitmapAt + 40);
    return t;
}

std::uint32_t largest(const AMMediaType& t, com::HRESULT expected = com::S_OK) {
    std::uint32_t size = 0;
    EXPECT_EQ(MPStreamSource::largestPacketSize(t, size), expected);
    return size;
}

TEST(StreamSourcePacketSize, FollowsTheMediaType) {
    // Four seconds of audio.
    EXPECT_EQ(largest(audioType(352800)), 4u * 352800u);
    largest(audioType(352800, 17), com::VFW_E_INVALIDMEDIATYPE);
    largest(audioType(0), com::VFW_E_SIZENOTSET);

    // Three images: given, or computed from rows padded to 32 bits (here 642 × 3 bytes
    // padded to 1928) for a top-down image.
    EXPECT_EQ(largest(videoType(kFormatVideoInfo, 48, 640, 480, 32, 1228800)), 3u * 1228800u);
    EXPECT_EQ(largest(videoType(kFormatVideoInfo2, 72, 642, -480, 24, 0)), 3u * 1928u * 480u);
    auto shortInfo = videoType(kFormatVideoInfo, 48, 640, 480, 32, 0);
    shortInfo.format.resize(87);
    largest(shortInfo, com::VFW_E_INVALIDMEDIATYPE);
    auto shortInfo2 = videoType(kFormatVideoInfo2, 72, 640, 480, 32, 0);
    shortInfo2.format.resize(111);
    largest(shortInfo2, com::VFW_E_INVALIDMEDIATYPE);
    // An image size past 32 bits is no size.
    largest(videoType(kFormatVideoInfo, 48, 0x7FFFFFFF, 0x7FFFFFFF, 32, 0),
            com::VFW_E_INVALIDMEDIATYPE);

    // Fixed-size samples are never cut below their size; another format has only that.
    auto fixed = audioType(1000);
    fixed.bFixedSizeSamples = 1;
    fixed.lSampleSize = 10000;
    EXPECT_EQ(largest(fixed), 10000u);
    AMMediaType other;
    largest(other, com::VFW_E_SIZENOTSET);
    other.bFixedSizeSamples = 1;
    other.lSampleSize = 4096;
    EXPECT_EQ(largest(other), 4096u);
}

class StreamSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(source.setMediaType(audioType(16000)), com::S_OK);
        source.setConnected(true);
        source.setRunning(true);
    }
    MPStreamSource source;
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(64001, 7);
};

TEST_F(StreamSourceTest, ABufferLargerThanFourSecondsIsRefusedAndNotRecorded) {
    EXPECT_EQ(source.deliver(bytes.data(), 64001, nullptr, nullptr), com::VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(source.queuedPackets(), 0u);
    EXPECT_EQ(source.deliver(bytes.data(), 64000, nullptr, nullptr), com::S_OK);
    EXPECT_EQ(source.queuedPackets(), 1u);
}

TEST_F(StreamSourceTest, RefusesPacketsOutsideARecording) {
    const std::int64_t t = 10;
    EXPECT_EQ(source.deliver(nullptr, 4, nullptr, nullptr), com::E_POINTER);
    EXPECT_EQ(source.deliver(bytes.data(), 4, &t, nullptr), com::E_INVALIDARG);
    EXPECT_EQ(source.deliver(bytes.data(), 4, nullptr, &t), com::E_INVALIDARG);
    source.setRunning(false);
    EXPECT_EQ(source.deliver(bytes.data(), 4, nullptr, nullptr), com::VFW_E_NOT_RUNNING);
    source.setRunning(true);
    source.setConnected(false);
    EXPECT_EQ(source.deliver(bytes.data(), 4, nullptr, nullptr), com::VFW_E_NOT_CONNECTED);
    EXPECT_EQ(source.queuedPackets(), 0u);

    // The type cannot change under a connection.
    source.setConnected(true);
    EXPECT_EQ(source.setMediaType(audioType(1000)), com::VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(source.largestPacket(), 64000u);
}

TEST_F(StreamSourceTest, HandsOverPacketsOldestFirstWithTheirTimes) {
    const std::int64_t start = 10'000'000, stop = 20'000'000;
    ASSERT_EQ(source.deliver(bytes.data(), 3, &start, &stop), com::S_OK);
    bytes[0] = 9;
    ASSERT_EQ(source.deliver(bytes.data(), 5, nullptr, nullptr), com::S_OK);

    auto first = source.takePacket(0ms);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->start, start);
    EXPECT_EQ(first->stop, stop);
    EXPECT_EQ(first->data, std::vector<std::uint8_t>(3, 7));
    auto second = source.takePacket(0ms);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->start, 0);
    EXPECT_EQ(second->data.size(), 5u);
    EXPECT_EQ(second->data[0], 9);
    EXPECT_FALSE(source.takePacket(1ms));
}

TEST_F(StreamSourceTest, AWaitingTakerIsWokenByAPacketOrByClearing) {
    auto taken = std::async(std::launch::async, [&] { return source.takePacket(60s); });
    ASSERT_EQ(source.deliver(bytes.data(), 2, nullptr, nullptr), com::S_OK);
    ASSERT_EQ(taken.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(taken.get());

    auto cleared = std::async(std::launch::async, [&] { return source.takePacket(60s); });
    // Clearing until the taker returns: it may not be waiting yet at the first clear.
    for (int i = 0; i < 3000 && cleared.wait_for(10ms) != std::future_status::ready; ++i)
        source.clear();
    ASSERT_EQ(cleared.wait_for(0s), std::future_status::ready);
    EXPECT_FALSE(cleared.get());
}

TEST_F(StreamSourceTest, AFullQueueHoldsTheDeliveryUntilThereIsRoomOrTheRecordingStops) {
    // Four largest packets (four seconds each) fill the queue.
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(source.deliver(bytes.data(), 64000, nullptr, nullptr), com::S_OK);
    auto held = std::async(std::launch::async,
                           [&] { return source.deliver(bytes.data(), 10, nullptr, nullptr); });
    EXPECT_EQ(held.wait_for(0ms), std::future_status::timeout);
    ASSERT_TRUE(source.takePacket(0ms));
    ASSERT_EQ(held.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(held.get(), com::S_OK);

    ASSERT_EQ(source.deliver(bytes.data(), 63990, nullptr, nullptr), com::S_OK); // full again
    auto stopped = std::async(std::launch::async,
                              [&] { return source.deliver(bytes.data(), 10, nullptr, nullptr); });
    source.setRunning(false);
    ASSERT_EQ(stopped.wait_for(30s), std::future_status::ready);
    // Refused either at once or when the stop woke it.
    EXPECT_EQ(stopped.get(), com::VFW_E_NOT_RUNNING);
    EXPECT_EQ(source.queuedBytes(), 4u * 64000);
}

} // namespace
} // namespace norv::media
