// The bridge's socket protocol: values and frames survive the round trip, the decoder
// refuses every kind of damaged input, and the channel carries large messages both ways
// at once without blocking, and descriptors with them.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
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
    m.values = {
        Value::empty(),
        Value::null(),
        Value::fromBool(true),
        Value::fromBool(false),
        Value::fromI4(-2147024809),
        Value::fromR8(-0.5),
        Value::fromR8(INFINITY),
        Value::fromString16(std::u16string(u"a\0b\xD83D\xDE00", 5)),
        Value::fromString16(u"lone \xD800 and \xDC00"),
        Value::nativeObject(7),
        Value::scriptObject(0xFFFFFFFF),
        Value::error(-2147352567, u"boom"),
        Value::sharedBytes(64, 4096),
        Value::date(-1.25),
        Value::fromBytes({0, 255, 7}),
        Value::list({Value::fromI4(1), Value::list({}), Value::fromString16(u"x")}),
        Value::record()
            .field(u"majortype", Value::fromString16(u"{00000000-0000-0000-0000-000000000000}"))
            .field(u"pbFormat", Value::fromBytes({}))
            .field(u"inner", Value::record().field(u"n", Value::null()))};
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
    EXPECT_FALSE(decodeBody(with(boolean, 10, 11), out)); // unknown tag
    // The retired UTF-8 text: a peer sending it is out of step.
    const std::uint8_t text8[] = {2, 1, 0, 0, 0, 2, 1, 0, 0, 0, 6, 1, 0, 0, 0, 'x'};
    EXPECT_FALSE(decodeBody(text8, out));

    // A string whose length runs past the end.
    auto text = bodyOf(Message{Kind::Reply, 1, 2, {Value::fromString16(u"ab")}});
    text[14] = 0x7F;
    EXPECT_FALSE(decodeBody(text, out));
}

TEST(RpcCodecTest, RefusesListsAndRecordsThatCannotBeHonest) {
    Message out;
    auto bodyWith = [](Value v) {
        return bodyOf(Message{Kind::Request, 1, 2, {std::move(v)}});
    };
    // A record's names are strings, one per value.
    Value unnamed = Value::record();
    unnamed.items = {Value::fromI4(1), Value::fromI4(2)};
    EXPECT_FALSE(decodeBody(bodyWith(unnamed), out));
    Value odd = Value::record();
    odd.items = {Value::fromString16(u"a")};
    EXPECT_FALSE(decodeBody(bodyWith(odd), out));
    // Nesting is bounded.
    Value deep = Value::list({});
    for (int i = 1; i < maxValueDepth; ++i)
        deep = Value::list({deep});
    EXPECT_TRUE(decodeBody(bodyWith(deep), out));
    EXPECT_FALSE(decodeBody(bodyWith(Value::list({deep})), out));
    // Nested values count against the bound of one message.
    std::vector<std::uint8_t> many = bodyWith(Value::list({}));
    const auto count = static_cast<std::uint32_t>(maxValueCount);
    many.resize(many.size() - 4);
    for (int i = 0; i < 4; ++i)
        many.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    many.insert(many.end(), count, static_cast<std::uint8_t>(Tag::Empty));
    EXPECT_FALSE(decodeBody(many, out));
    // Byte blocks and lists longer than what follows.
    auto bytes = bodyWith(Value::fromBytes({1, 2}));
    bytes[11] = 3;
    EXPECT_FALSE(decodeBody(bytes, out));
    auto list = bodyWith(Value::list({Value::null()}));
    list[11] = 2;
    EXPECT_FALSE(decodeBody(list, out));
}

TEST(RpcElementTest, AutomationDatesAndScriptTimesConvertBothWays) {
    constexpr double day = 86400000;
    const double epoch = -25569 * day; // 1899-12-30 in script time
    struct Case {
        double date;
        double time;
    } cases[] = {
        {0, epoch},
        {25569, 0},
        {36526.5, 946728000000},            // 2000-01-01 12:00
        {-1.25, epoch - day + day / 4},     // 1899-12-29 06:00
        {-1.75, epoch - day + 3 * day / 4}, // 1899-12-29 18:00
        {-2, epoch - 2 * day},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(automationDateToTime(c.date), c.time) << c.date;
        EXPECT_DOUBLE_EQ(timeToAutomationDate(c.time), c.date) << c.date;
    }
    // The times of 1899-12-30 read the same with either sign.
    EXPECT_DOUBLE_EQ(automationDateToTime(-0.25), epoch + day / 4);
    EXPECT_TRUE(std::isnan(automationDateToTime(INFINITY)));
    EXPECT_TRUE(std::isnan(timeToAutomationDate(std::nan(""))));
}

TEST(RpcElementTest, ClassIdsAreReadAsTheBrowserWritesThem) {
    const std::string player = "6BF52A52-394A-11D3-B153-00C04F79FAA6";
    for (const char16_t* text : {u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                 u"CLSID:{6bf52a52-394a-11d3-b153-00c04f79faa6}",
                                 u"  clsid:6BF52A52-394A-11D3-B153-00C04F79FAA6\t",
                                 u"ClsId:{6Bf52a52-394A-11d3-B153-00c04F79fAA6}"})
        EXPECT_EQ(classIdGuid(text), player);
    for (const char16_t* text : {u"", u"clsid:", u"{6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                 u"clsid: {6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                 u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6",
                                 u"clsid:6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                 u"clsid:{6BF52A52_394A-11D3-B153-00C04F79FAA6}",
                                 u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAAX}",
                                 u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}x",
                                 u"clsid:{\uFF16BF52A52-394A-11D3-B153-00C04F79FAA}"})
        EXPECT_FALSE(classIdGuid(text));
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
    ASSERT_TRUE(decodeBody(bodyOf(userAgentNotice(u"Mozilla/5.0 (X11; Norv 1.5.0.0)")), out));
    EXPECT_EQ(userAgentText(out), u"Mozilla/5.0 (X11; Norv 1.5.0.0)");
    EXPECT_EQ(userAgentText(userAgentNotice(u"")), u"");

    // Tabs and characters up to U+00FF are field content (one octet each); control
    // characters, and characters no single octet can carry, are not.
    EXPECT_TRUE(isHeaderText(u"a\tb caf\u00E9 ~ \u00FF"));
    for (const std::u16string& bad : std::vector<std::u16string>{
             u"Agent\r\nX-Other: 1", u"a\nb", u"a\rb", u"a\x7F", u"\x1F",
             std::u16string(u"a\0b", 3), u"\u0100", u"a\u2028b", u"\xD83D\xDE00", u"\xD800"}) {
        EXPECT_FALSE(isHeaderText(bad));
        EXPECT_EQ(userAgentText(userAgentNotice(bad)), std::nullopt);
    }

    // Only the exact form counts: a notice of that operation with one text.
    auto changed = [](auto change) {
        Message m = userAgentNotice(u"Agent/1");
        change(m);
        return userAgentText(m);
    };
    EXPECT_EQ(changed([](Message& m) { m.kind = Kind::Request; }), std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.op = static_cast<std::uint8_t>(Op::ReleaseScript); }),
              std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values.clear(); }), std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values.push_back(Value::fromString16(u"x")); }),
              std::nullopt);
    EXPECT_EQ(changed([](Message& m) { m.values[0] = Value::fromI4(1); }), std::nullopt);
}

namespace {

// Moves both channels' traffic until `done` or a deadline; false on the deadline.
bool pump(Channel& a, Channel& b, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        pollfd fds[2] = {{a.fd(), POLLIN, 0}, {b.fd(), POLLIN, 0}};
        for (int i = 0; i < 2; ++i) {
            if ((i == 0 ? a : b).hasOutput())
                fds[i].events |= POLLOUT;
        }
        if (poll(fds, 2, 1000) < 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            Channel& c = i == 0 ? a : b;
            if (fds[i].revents & POLLOUT)
                c.flush();
            if (fds[i].revents & (POLLIN | POLLHUP))
                c.receive();
        }
    }
    return true;
}

} // namespace

TEST(RpcChannelTest, LargeMessagesCrossingArriveWholeAndInOrder) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Channel a(fds[0]);
    Channel b(fds[1]);
    // Each message is far larger than the socket buffers; both sides send at once, and
    // sending never waits for the other side to read.
    const std::u16string text(2 * 1024 * 1024, u'x');
    for (Channel* c : {&a, &b}) {
        c->enqueue({Kind::Request, 1, 3, {Value::fromString16(text)}});
        c->enqueue({Kind::Notice, 0, 8, {Value::fromI4(2)}});
        EXPECT_TRUE(c->flush());
        EXPECT_TRUE(c->hasOutput()); // the rest waits for room
    }
    std::vector<Message> gotA, gotB;
    auto take = [](Channel& c, std::vector<Message>& got) {
        Message m;
        while (c.next(m) == FrameReader::Status::Message)
            got.push_back(m);
        return got.size() == 2;
    };
    ASSERT_TRUE(pump(a, b, [&] { return take(a, gotA) & take(b, gotB); }));
    for (auto* got : {&gotA, &gotB}) {
        EXPECT_EQ((*got)[0].values[0].text16, text);
        EXPECT_EQ((*got)[1].op, 8);
    }

    // The peer going away is seen by both halves.
    b.shutdown();
    pollfd p{a.fd(), POLLIN, 0};
    poll(&p, 1, 10000);
    EXPECT_LT(a.receive(), 0);
    EXPECT_FALSE(a.isOpen());
    a.enqueue({Kind::Notice, 0, 8, {}});
    EXPECT_FALSE(a.flush());
}

TEST(RpcChannelTest, DescriptorsTravelWithTheirMessageOnlyToAnEndThatTakesThem) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Channel ui(fds[0]);
    Channel page(fds[1], true);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ui.enqueue({Kind::Notice, 0, 1, {Value::fromI4(7)}}, pipe[1]);
    ::close(pipe[1]); // the channel keeps its own copy until it is written
    ASSERT_TRUE(pump(ui, page, [&] { return page.hasInput(); }));
    Message hello;
    ASSERT_EQ(page.next(hello), FrameReader::Status::Message);
    const int passed = page.takeReceivedFd();
    ASSERT_GE(passed, 0);
    EXPECT_EQ(page.takeReceivedFd(), -1);
    // It is the same pipe.
    ASSERT_EQ(::write(passed, "k", 1), 1);
    char c = 0;
    ASSERT_EQ(::read(pipe[0], &c, 1), 1);
    EXPECT_EQ(c, 'k');
    ::close(passed);

    // The UI end never keeps what the page passes.
    int other[2];
    ASSERT_EQ(::pipe(other), 0);
    page.enqueue({Kind::Notice, 0, 8, {}}, other[0]);
    ::close(other[0]);
    ASSERT_TRUE(pump(ui, page, [&] { return ui.hasInput(); }));
    EXPECT_EQ(ui.takeReceivedFd(), -1);
    // Its copy is closed: the pipe's read end is gone everywhere.
    ::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(::write(other[1], "k", 1), -1);
    ::close(other[1]);
    ::close(pipe[0]);
}
