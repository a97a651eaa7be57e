// The bridge's socket protocol: values and frames survive the round trip, the decoder
// refuses every kind of damaged input, and the channel carries large messages both ways
// at once without blocking.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cmath>
#include <thread>

#include "platform/web/rpc/Channel.h"
#include "platform/web/rpc/Message.h"

using namespace norv::web::rpc;

namespace {

Message sample() {
    Message m;
    m.kind = Kind::Request;
    m.id = 0xDEADBEEF;
    m.op = static_cast<std::uint8_t>(Op::Call);
    m.values = {Value::empty(),
                Value::null(),
                Value::fromBool(true),
                Value::fromBool(false),
                Value::fromI4(-2147024809),
                Value::fromR8(-0.5),
                Value::fromR8(INFINITY),
                Value::fromString16(std::u16string(u"a\0b\xD83D\xDE00", 5)),
                Value::fromString8(std::string("x\0y", 3)),
                Value::nativeObject(7),
                Value::scriptObject(0xFFFFFFFF),
                Value::error(-2147352567, u"boom")};
    return m;
}

std::vector<std::uint8_t> bodyOf(const Message& m) {
    auto frame = encodeFrame(m);
    return {frame.begin() + frameHeaderSize, frame.end()};
}

} // namespace

TEST(RpcCodecTest, ValuesAndMessagesRoundTrip) {
    const Message m = sample();
    Message out;
    ASSERT_TRUE(decodeBody(bodyOf(m), out));
    EXPECT_EQ(out, m);

    // NaN does not compare equal; its bits must still survive.
    Message nan;
    nan.kind = Kind::Reply;
    nan.values = {Value::fromR8(std::nan(""))};
    ASSERT_TRUE(decodeBody(bodyOf(nan), out));
    EXPECT_TRUE(std::isnan(out.values[0].r8));
}

TEST(RpcCodecTest, RefusesDamagedBodies) {
    const auto good = bodyOf(sample());
    Message out;
    // Every truncation is refused.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(decodeBody({good.data(), n}, out)) << n;
    // Trailing bytes are refused.
    auto longer = good;
    longer.push_back(0);
    EXPECT_FALSE(decodeBody(longer, out));

    auto with = [](std::vector<std::uint8_t> body, std::size_t at, std::uint8_t v) {
        body[at] = v;
        return body;
    };
    const auto empty = bodyOf(Message{Kind::Notice, 1, 2, {}});
    EXPECT_TRUE(decodeBody(empty, out));
    EXPECT_FALSE(decodeBody(with(empty, 0, 0), out)); // unknown kind
    EXPECT_FALSE(decodeBody(with(empty, 0, 4), out));
    // A value count larger than the bytes that follow.
    EXPECT_FALSE(decodeBody(with(empty, 6, 1), out));
    // More values than any message may carry, even when they are all there.
    const auto count = static_cast<std::uint32_t>(maxValueCount + 1);
    std::vector<std::uint8_t> many(empty.begin(), empty.end() - 4); // up to the count
    for (int i = 0; i < 4; ++i)
        many.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    many.insert(many.end(), count, static_cast<std::uint8_t>(Tag::Empty));
    EXPECT_FALSE(decodeBody(many, out));

    const auto boolean = bodyOf(Message{Kind::Reply, 1, 2, {Value::fromBool(true)}});
    EXPECT_FALSE(decodeBody(with(boolean, 11, 2), out));  // not a canonical bool
    EXPECT_FALSE(decodeBody(with(boolean, 10, 10), out)); // unknown tag

    // A string whose length runs past the end.
    auto text = bodyOf(Message{Kind::Reply, 1, 2, {Value::fromString16(u"ab")}});
    text[14] = 0x7F;
    EXPECT_FALSE(decodeBody(text, out));
}

TEST(RpcCodecTest, FrameReaderCutsStreamsAndStopsAtBadFrames) {
    std::vector<std::uint8_t> stream;
    encodeFrame(sample(), stream);
    encodeFrame(Message{Kind::Notice, 0, 8, {Value::nativeObject(1), Value::fromI4(2)}}, stream);

    // Byte by byte: nothing is taken before a frame is complete.
    FrameReader reader;
    std::vector<Message> got;
    for (std::uint8_t b : stream) {
        reader.append({&b, 1});
        Message m;
        while (reader.next(m) == FrameReader::Status::Message)
            got.push_back(m);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], sample());
    EXPECT_EQ(got[1].values.size(), 2u);

    // An announced length over the limit breaks the stream for good.
    FrameReader huge;
    const std::uint8_t header[] = {0xFF, 0xFF, 0xFF, 0x7F, 1};
    huge.append(header);
    Message m;
    EXPECT_EQ(huge.next(m), FrameReader::Status::Malformed);
    huge.append(stream);
    EXPECT_EQ(huge.next(m), FrameReader::Status::Malformed);

    // A complete but malformed frame too.
    FrameReader bad;
    const std::uint8_t frame[] = {1, 0, 0, 0, 9};
    bad.append(frame);
    EXPECT_EQ(bad.next(m), FrameReader::Status::Malformed);
}

TEST(RpcUserAgentTest, NoticeCarriesOnlyTextsThatCannotEndTheHeaderEarly) {
    Message out;
    ASSERT_TRUE(decodeBody(bodyOf(userAgentNotice("Mozilla/5.0 (X11; Norv 1.5.0.0)")), out));
    EXPECT_EQ(userAgentText(out), "Mozilla/5.0 (X11; Norv 1.5.0.0)");
    EXPECT_EQ(userAgentText(userAgentNotice("")), "");

    // Tabs and bytes above ASCII are field content; other control characters are not.
    EXPECT_TRUE(isHeaderValue("a\tb \xC3\xA9 ~"));
    for (const std::string& bad : std::vector<std::string>{
             "Agent\r\nX-Other: 1", "a\nb", "a\rb", "a\x7F", "\x1F", std::string("a\0b", 3)}) {
        EXPECT_FALSE(isHeaderValue(bad)) << bad;
        EXPECT_EQ(userAgentText(userAgentNotice(bad)), std::nullopt) << bad;
    }

    // Only the exact form counts: a notice of that operation with one UTF-8 text.
    auto changed = [](auto change) {
        Message m = userAgentNotice("Agent/1");
        change(m);
        return userAgentText(m);
    };
    EXPECT_EQ(changed([](Message& m) { m.kind = Kind::Request; }), std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.op = static_cast<std::uint8_t>(Op::ReleaseScript); }),
              std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values.clear(); }), std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values.push_back(Value::fromString8("x")); }),
              std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values[0] = Value::fromString16(u"Agent/1"); }),
              std::nullopt);
}

TEST(RpcChannelTest, LargeMessagesCrossingDoNotBlock) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Channel a(fds[0]);
    Channel b(fds[1]);
    // Each message is far larger than the socket buffers: both sides send at once.
    Message big{Kind::Request, 1, 3, {Value::fromString8(std::string(4 * 1024 * 1024, 'x'))}};
    auto drain = [](Channel& c, Message& out) {
        for (;;) {
            auto status = c.next(out);
            if (status != FrameReader::Status::NeedMore)
                return status;
            if (!c.waitReadable(10000) || !c.receiveAvailable())
                return c.next(out);
        }
    };
    // Each side sends, then reads what the other sent.
    bool otherSent = false;
    Message otherReceived;
    FrameReader::Status otherStatus = FrameReader::Status::NeedMore;
    std::thread other([&] {
        otherSent = b.send(big);
        otherStatus = drain(b, otherReceived);
    });
    Message received;
    ASSERT_TRUE(a.send(big));
    ASSERT_EQ(drain(a, received), FrameReader::Status::Message);
    other.join();
    EXPECT_TRUE(otherSent);
    EXPECT_EQ(received.values[0].text8.size(), big.values[0].text8.size());
    ASSERT_EQ(otherStatus, FrameReader::Status::Message);
    EXPECT_EQ(otherReceived.values[0].text8, big.values[0].text8);

    // The peer going away is seen by both operations.
    b.close();
    a.waitReadable(10000);
    EXPECT_FALSE(a.receiveAvailable());
    EXPECT_FALSE(a.isOpen());
    EXPECT_FALSE(a.send(big));
}
