// The UI side of the bridge against a scripted fake page on a socket pair: the web
// process is not trusted, so every malformed or mismatched message must be refused
// without harm, and the native objects it held released.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/com/ErrorInfo.h"
#include "platform/web/BridgeConnection.h"
#include "platform/web/ScriptObject.h"
#include "tests/platform/web/TestObject.h"

using namespace norv::com;
using namespace norv::web;
using namespace norv::web::rpc;
using norv::test::callDefault;
using norv::test::TestObject;

namespace {

// Describes the one member the elements' test objects have ("value", a TestObject property).
struct IValue : IDispatch {
    static constexpr IID iid = guid("{5B0B1E3A-6C1D-4E43-8E7B-3F1C2A9D0E11}");
    using Base = IDispatch;
    virtual HRESULT get_value(Variant* pVal) = 0;
    virtual HRESULT put_value(const Variant& pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info =
            describeInterface<IValue>(u"IValue", u"", propget(1, u"value", &IValue::get_value),
                                      propput(1, u"value", &IValue::put_value));
        return info;
    }

protected:
    ~IValue() = default;
};

struct Host final : BridgeConnection::Host {
    std::function<void()> onReady;
    void documentReady(const Bstr&) override {
        if (onReady)
            onReady();
    }
    bool scriptError(const ScriptError&) override { return true; }
    // Refuses every window call with a text, noting what it was asked.
    HRESULT windowCall(WindowCall call, std::int32_t x, std::int32_t y) override {
        calls.push_back({call, x, y});
        setErrorInfo(IID_NULL, Bstr(u"Not now."));
        return E_FAIL;
    }
    struct Call {
        WindowCall call;
        std::int32_t x, y;
    };
    std::vector<Call> calls;

    std::vector<CLSID> created;
    std::vector<std::pair<ElementId, ElementBox>> boxes;
    std::vector<ElementId> released;
    HRESULT createElement(ElementId, const CLSID& clsid, ElementObject& out) override {
        created.push_back(clsid);
        auto object = makeObject<TestObject>();
        object->property(u"value", Variant::fromI4(5));
        out.object = ComPtr<IDispatch>(object.get());
        out.interfaces = {ComPtr<ITypeInfo>(typeInfoOf<IValue>())};
        return S_OK;
    }
    void elementBox(ElementId id, const ElementBox& box) override { boxes.emplace_back(id, box); }
    void elementReleased(ElementId id) override { released.push_back(id); }
};

// The fake page: blocking reads and writes on its end.
struct FakePage {
    explicit FakePage(int fd) : channel(fd, true) {}
    ~FakePage() {
        if (shared >= 0)
            ::close(shared);
    }
    bool wait(short events) {
        pollfd p{channel.fd(), events, 0};
        return poll(&p, 1, 10000) > 0;
    }
    Message read() {
        Message m;
        for (;;) {
            auto status = channel.next(m);
            if (status == FrameReader::Status::Message) {
                if (int fd = channel.takeReceivedFd(); fd >= 0)
                    shared = fd;
                return m;
            }
            if (status == FrameReader::Status::Malformed || !wait(POLLIN) ||
                channel.receive() < 0) {
                ADD_FAILURE() << "the page's socket failed";
                return {};
            }
        }
    }
    void send(const Message& m) {
        channel.enqueue(m);
        while (channel.flush() && channel.hasOutput() && wait(POLLOUT)) {
        }
    }
    Message request(std::uint32_t id, Op op, std::vector<Value> values) {
        send({Kind::Request, id, static_cast<std::uint8_t>(op), std::move(values)});
        return read();
    }
    bool sawEnd() {
        while (wait(POLLIN) && channel.receive() >= 0) {
        }
        return !channel.isOpen();
    }
    Channel channel;
    int shared = -1; // the memory the greeting offered
};

bool pumpUntil(const std::function<bool()>& cond) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond() && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, FALSE);
    return cond();
}

std::int32_t errorOf(const Message& reply) {
    return reply.values.size() == 1 && reply.values[0].tag == Tag::Error ? reply.values[0].i4 : 0;
}

// A native object whose name lookup runs `duringLookUp` (which may spin the main loop)
// before answering DISPID 1, whose value is 7.
class ReentrantObject final : public ComObject<ReentrantObject, IDispatch> {
public:
    std::function<void()> duringLookUp;

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr>, LCID, std::span<DISPID> ids) override {
        if (duringLookUp)
            duringLookUp();
        ids[0] = 1;
        return S_OK;
    }
    HRESULT Invoke(DISPID, const IID&, LCID, std::uint16_t, DispParams&, Variant* result,
                   ExcepInfo*, std::uint32_t*) override {
        if (result)
            *result = Variant::fromI4(7);
        return S_OK;
    }
};

} // namespace

TEST(BridgeConnectionTest, ServesThePageAndRefusesWhatIsMalformed) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TestObject::live = 0;
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    {
        auto object = makeObject<TestObject>();
        object->property(u"value", Variant::fromI4(41));
        host.onReady = [&, object] {
            EXPECT_EQ(connection->setPath(u"window.tavi.host", Variant::fromDispatch(object.get())),
                      S_OK);
        };
    }
    connection->start();

    bool done = false;
    std::thread page([&] {
        FakePage p(fds[1]);
        Message hello = p.read();
        EXPECT_EQ(hello.kind, Kind::Notice);
        EXPECT_EQ(hello.op, static_cast<std::uint8_t>(Op::Hello));

        // The document is set up through a nested call while the page waits.
        p.send({Kind::Request,
                1,
                static_cast<std::uint8_t>(Op::DocumentReady),
                {Value::fromString16(u"http://x/")}});
        Message setPath = p.read();
        EXPECT_EQ(setPath.op, static_cast<std::uint8_t>(Op::SetPath));
        ASSERT_EQ(setPath.values.size(), 2u);
        EXPECT_EQ(setPath.values[0].text16, u"window.tavi.host");
        ASSERT_EQ(setPath.values[1].tag, Tag::NativeObject);
        const std::uint32_t h = setPath.values[1].handle;
        p.send({Kind::Reply, setPath.id, setPath.op, {}});
        Message ready = p.read();
        EXPECT_EQ(ready.kind, Kind::Reply);
        EXPECT_EQ(ready.id, 1u);

        Message got =
            p.request(2, Op::Get, {Value::nativeObject(h), Value::fromString16(u"value")});
        ASSERT_EQ(got.values.size(), 1u);
        EXPECT_EQ(got.values[0], Value::fromI4(41));
        // A handle never issued, arguments of the wrong kinds, an unknown operation.
        EXPECT_EQ(
            errorOf(p.request(3, Op::Get, {Value::nativeObject(h + 1), Value::fromString16(u"v")})),
            RPC_E_DISCONNECTED);
        EXPECT_EQ(errorOf(p.request(4, Op::Get, {Value::fromI4(1), Value::fromI4(2)})),
                  E_INVALIDARG);
        EXPECT_EQ(errorOf(p.request(5, Op::Put, {Value::nativeObject(h)})), E_INVALIDARG);
        EXPECT_EQ(errorOf(p.request(6, Op::Call, {})), E_INVALIDARG);
        EXPECT_EQ(errorOf(p.request(7, Op::ScriptError, {Value::fromI4(1)})), E_INVALIDARG);
        EXPECT_EQ(errorOf(p.request(8, static_cast<Op>(99), {})), E_NOTIMPL);
        // The page's window functions: numbers as the engine takes them (a text that
        // holds one, a fraction truncated, anything else 0); the host's failure and its
        // text go back; a name that is none of them, or a missing argument, is refused.
        Message refused = p.request(
            10, Op::WindowCall,
            {Value::fromString16(u"resizeTo"), Value::fromString16(u"40"), Value::fromR8(300.7)});
        ASSERT_EQ(refused.values.size(), 1u);
        EXPECT_EQ(refused.values[0].i4, E_FAIL);
        EXPECT_EQ(refused.values[0].text16, u"Not now.");
        EXPECT_EQ(errorOf(p.request(11, Op::WindowCall,
                                    {Value::fromString16(u"moveBy"), Value::null(),
                                     Value::fromString16(u"far")})),
                  E_FAIL);
        EXPECT_EQ(
            errorOf(p.request(12, Op::WindowCall,
                              {Value::fromString16(u"open"), Value::empty(), Value::empty()})),
            E_INVALIDARG);
        EXPECT_EQ(errorOf(p.request(13, Op::WindowCall, {Value::fromString16(u"close")})),
                  E_INVALIDARG);
        // Releasing more than was handed out is harmless; the object goes.
        p.send({Kind::Notice,
                0,
                static_cast<std::uint8_t>(Op::ReleaseNative),
                {Value::nativeObject(h), Value::fromI4(5), Value::fromI4(3)}});
        EXPECT_EQ(
            errorOf(p.request(9, Op::Call, {Value::nativeObject(h), Value::fromString16(u"")})),
            RPC_E_DISCONNECTED);
        // A reply nobody waits for ends the connection.
        p.send({Kind::Reply, 77, 0, {}});
        EXPECT_TRUE(p.sawEnd());
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    page.join();
    EXPECT_FALSE(connection->isOpen());
    host.onReady = nullptr;
    EXPECT_EQ(TestObject::live, 0);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].call, WindowCall::resizeTo);
    EXPECT_EQ(host.calls[0].x, 40);
    EXPECT_EQ(host.calls[0].y, 300);
    EXPECT_EQ(host.calls[1].call, WindowCall::moveBy);
    EXPECT_EQ(host.calls[1].x, 0);
    EXPECT_EQ(host.calls[1].y, 0);
}

TEST(BridgeConnectionTest, GarbageClosesTheConnectionAndReleasesEverything) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TestObject::live = 0;
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    host.onReady = [&] {
        auto object = makeObject<TestObject>();
        connection->setPath(u"window.x", Variant::fromDispatch(object.get()));
    };
    connection->start();
    std::thread page([&] {
        FakePage p(fds[1]);
        p.read(); // hello
        p.send({Kind::Request,
                1,
                static_cast<std::uint8_t>(Op::DocumentReady),
                {Value::fromString16(u"http://x/")}});
        Message setPath = p.read();
        p.send({Kind::Reply, setPath.id, setPath.op, {}});
        p.read(); // ready
        const std::uint8_t garbage[] = {3, 0, 0, 0, 1, 2, 3};
        ::send(fds[1], garbage, sizeof garbage, MSG_NOSIGNAL);
        EXPECT_TRUE(p.sawEnd());
    });
    EXPECT_TRUE(pumpUntil([&] { return !connection->isOpen(); }));
    page.join();
    EXPECT_EQ(TestObject::live, 0);
    // Calls after the end fail cleanly.
    EXPECT_EQ(connection->runScript(u"1", nullptr), E_ACCESSDENIED);
    host.onReady = nullptr;
}

TEST(BridgeConnectionTest, TellsThePageItsUserAgentButNeverAnUnsafeOne) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    connection->start();
    EXPECT_EQ(connection->sendUserAgent("Agent/1 (X11; Norv 1.5.0.0)"), S_OK);
    // A line break would let the text end the header and start another: the page is
    // told to use WebKit's own header instead.
    EXPECT_EQ(connection->sendUserAgent("Agent/2\r\nX-Smuggled: 1"), E_INVALIDARG);
    EXPECT_EQ(connection->sendUserAgent("Agent/3 (caf\xC3\xA9)"), S_OK);
    // A character no single octet can carry cannot be written as it is.
    EXPECT_EQ(connection->sendUserAgent("Agent/4 (\xF0\x9F\x98\x80)"), E_INVALIDARG);
    HRESULT elsewhere = S_OK;
    std::thread([&] { elsewhere = connection->sendUserAgent("Agent/4"); }).join();
    EXPECT_EQ(elsewhere, RPC_E_WRONG_THREAD);
    connection->close();
    EXPECT_EQ(connection->sendUserAgent("Agent/5"), S_OK); // nobody to tell

    // Each was queued, in order, before each call returned.
    FakePage p(fds[1]);
    EXPECT_EQ(p.read().op, static_cast<std::uint8_t>(Op::Hello));
    for (const char16_t* expected :
         {u"Agent/1 (X11; Norv 1.5.0.0)", u"", u"Agent/3 (caf\u00E9)", u""}) {
        Message notice = p.read();
        EXPECT_EQ(userAgentText(notice), expected);
    }
    EXPECT_TRUE(p.sawEnd());
}

TEST(BridgeConnectionTest, AnObjectReleasedWhileItLooksUpANameIsNotTouchedAfterwards) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    std::atomic<bool> lookingUp = false;
    {
        auto object = makeObject<ReentrantObject>();
        // The page releases the object while its lookup keeps the main loop running.
        object->duringLookUp = [&] {
            lookingUp = true;
            EXPECT_TRUE(pumpUntil([&] { return connection->liveNativeObjects() == 0; }));
        };
        host.onReady = [&, object] {
            EXPECT_EQ(connection->setPath(u"window.x", Variant::fromDispatch(object.get())), S_OK);
        };
    }
    connection->start();

    bool done = false;
    std::thread page([&] {
        FakePage p(fds[1]);
        p.read(); // hello
        p.send({Kind::Request,
                1,
                static_cast<std::uint8_t>(Op::DocumentReady),
                {Value::fromString16(u"http://x/")}});
        Message setPath = p.read();
        ASSERT_EQ(setPath.values.size(), 2u);
        const std::uint32_t h = setPath.values[1].handle;
        p.send({Kind::Reply, setPath.id, setPath.op, {}});
        p.read(); // ready
        p.send({Kind::Request,
                2,
                static_cast<std::uint8_t>(Op::Get),
                {Value::nativeObject(h), Value::fromString16(u"value")}});
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!lookingUp && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
        p.send({Kind::Notice,
                0,
                static_cast<std::uint8_t>(Op::ReleaseNative),
                {Value::nativeObject(h), Value::fromI4(1)}});
        Message got = p.read();
        EXPECT_EQ(got.id, 2u);
        ASSERT_EQ(got.values.size(), 1u);
        EXPECT_EQ(got.values[0], Value::fromI4(7));
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    page.join();
    EXPECT_EQ(connection->liveNativeObjects(), 0u);
    connection->close();
    host.onReady = nullptr;
}

TEST(BridgeConnectionTest, ANewDocumentEndsTheCallsOtherThreadsMakeIntoTheOldOne) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    auto keeper = makeObject<TestObject>();
    std::vector<Variant> kept;
    keeper->method(u"keep", [&](std::vector<Variant>& a, Variant*) {
        kept.push_back(a.at(0));
        return S_OK;
    });
    host.onReady = [&] {
        EXPECT_EQ(connection->setPath(u"window.k", Variant::fromDispatch(keeper.get())), S_OK);
    };
    connection->start();
    std::atomic<bool> asked{false};
    std::atomic<bool> done{false};
    std::thread page([&] {
        FakePage p(fds[1]);
        p.read(); // hello
        p.send({Kind::Request,
                1,
                static_cast<std::uint8_t>(Op::DocumentReady),
                {Value::fromString16(u"http://x/")}});
        Message setPath = p.read();
        const std::uint32_t h = setPath.values.at(1).handle;
        p.send({Kind::Reply, setPath.id, setPath.op, {}});
        p.read(); // ready
        // The page hands native code a script function.
        Message got = p.request(
            2, Op::Call,
            {Value::nativeObject(h), Value::fromString16(u"keep"), Value::scriptObject(9)});
        EXPECT_EQ(got.id, 2u);
        // A worker calls it; the page does not answer but goes on to a new document.
        Message call = p.read();
        EXPECT_EQ(call.op, static_cast<std::uint8_t>(Op::ScriptCall));
        asked = true;
        p.send({Kind::Request,
                3,
                static_cast<std::uint8_t>(Op::DocumentReady),
                {Value::fromString16(u"http://x/next")}});
        Message setAgain = p.read();
        p.send({Kind::Reply, setAgain.id, setAgain.op, {}});
        p.read(); // ready
        // The old document's answer comes late, and is dropped without harm: the
        // connection still serves the page.
        p.send({Kind::Reply, call.id, call.op, {Value::fromI4(1)}});
        EXPECT_EQ(p.request(4, Op::Has,
                            {Value::nativeObject(setAgain.values.at(1).handle),
                             Value::fromString16(u"keep")})
                      .values.at(0),
                  Value::fromBool(true));
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return kept.size() == 1; }));
    ComPtr<IDispatch> fn(kept[0].dispatch());
    HRESULT hr = S_OK;
    std::thread worker([&] {
        Variant r;
        hr = callDefault(fn.get(), {}, &r);
    });
    // The UI thread serves the new document meanwhile; the worker's call ends with it.
    EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(asked);
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    page.join();
    kept.clear();
    fn.reset();
    connection->close();
    host.onReady = nullptr;
}

TEST(BridgeConnectionTest, ElementMessagesAreCheckedBeforeAnythingIsMadeOrCalled) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TestObject::live = 0;
    Host host;
    auto connection = std::make_shared<BridgeConnection>(fds[0], &host);
    connection->start();
    const std::u16string player = u" CLSID:{6bf52a52-394a-11d3-b153-00c04f79faa6}\n";
    auto connect = [&](FakePage& p, std::uint32_t id, Value element, std::u16string classid) {
        return p.request(id, Op::ElementConnected, {element, Value::fromString16(classid)});
    };
    auto member = [&](FakePage& p, std::uint32_t id, std::int32_t element, std::int32_t action,
                      std::vector<Value> args) {
        std::vector<Value> values{Value::fromI4(element), Value::fromString16(u"VALUE"),
                                  Value::fromI4(action)};
        values.insert(values.end(), args.begin(), args.end());
        return p.request(id, Op::ElementMember, std::move(values));
    };
    auto notice = [](FakePage& p, Op op, std::vector<Value> values) {
        p.send({Kind::Notice, 0, static_cast<std::uint8_t>(op), std::move(values)});
    };
    auto box = [](double x, double w, Value visible = Value::fromBool(true)) {
        return std::vector<Value>{Value::fromI4(1), Value::fromR8(x), Value::fromI4(2),
                                  Value::fromR8(w), Value::fromI4(4), visible};
    };

    bool done = false;
    std::size_t createdBefore = 0;
    std::thread page([&] {
        FakePage p(fds[1]);
        p.read(); // hello
        EXPECT_EQ(p.request(1, Op::DocumentReady, {Value::fromString16(u"http://x/")}).kind,
                  Kind::Reply);

        // Malformed requests make nothing.
        EXPECT_EQ(errorOf(connect(p, 2, Value::fromI4(0), player)), E_INVALIDARG);
        EXPECT_EQ(errorOf(connect(p, 3, Value::fromString16(u"1"), player)), E_INVALIDARG);
        for (const char16_t* wrong : {u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6",
                                      u"{6BF52A52-394A-11D3-B153-00C04F79FAA6}",
                                      u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAAG}",
                                      u"clsid:6BF52A52+394A-11D3-B153-00C04F79FAA6"})
            EXPECT_EQ(errorOf(connect(p, 4, Value::fromI4(1), wrong)), E_INVALIDARG)
                << Bstr(wrong).toUtf8();
        EXPECT_EQ(errorOf(p.request(5, Op::ElementConnected, {Value::fromI4(1)})), E_INVALIDARG);

        // A well-formed one: the members of the described interface, no events.
        Message made = connect(p, 6, Value::fromI4(1), player);
        ASSERT_EQ(made.values.size(), 1u);
        ASSERT_EQ(made.values[0].tag, Tag::List);
        ASSERT_EQ(made.values[0].items.size(), 2u);
        EXPECT_EQ(made.values[0].items[0], Value::record().field(u"value", Value::fromI4(1)));
        EXPECT_EQ(made.values[0].items[1], Value::list({}));
        // The number is the page's only once.
        EXPECT_EQ(errorOf(connect(p, 7, Value::fromI4(1), player)), E_INVALIDARG);

        // Members: unknown elements, actions and names, wrong argument counts, values only
        // the UI sends.
        EXPECT_EQ(errorOf(member(p, 8, 2, 0, {})), RPC_E_DISCONNECTED);
        EXPECT_EQ(errorOf(member(p, 9, 1, 3, {})), E_INVALIDARG);
        EXPECT_EQ(errorOf(member(p, 10, 1, 0, {Value::fromI4(1)})), E_INVALIDARG);
        EXPECT_EQ(errorOf(member(p, 11, 1, 1, {})), E_INVALIDARG);
        EXPECT_EQ(errorOf(member(p, 12, 1, 1, {Value::record()})), E_INVALIDARG);
        EXPECT_EQ(errorOf(member(p, 13, 1, 1, {Value::fromBytes({1})})), E_INVALIDARG);
        EXPECT_EQ(
            errorOf(p.request(14, Op::ElementMember,
                              {Value::fromI4(1), Value::fromString16(u"other"), Value::fromI4(0)})),
            DISP_E_UNKNOWNNAME);
        EXPECT_EQ(member(p, 15, 1, 1, {Value::fromI4(9)}).values.size(), 0u);
        EXPECT_EQ(member(p, 16, 1, 0, {}).values.at(0), Value::fromI4(9));

        // Boxes: only finite ones with a size, of a live element, reach the host.
        notice(p, Op::ElementBox, box(std::nan(""), 3));
        notice(p, Op::ElementBox, box(1, -3));
        notice(p, Op::ElementBox, box(1, 3, Value::fromI4(1)));
        auto other = box(1, 3);
        other[0] = Value::fromI4(2);
        notice(p, Op::ElementBox, other);
        notice(p, Op::ElementBox, {Value::fromI4(1)});
        notice(p, Op::ElementBox, box(1.5, 3));
        // With the part of the viewport it can be seen in: four more numbers, a size not
        // negative; anything short of four is no box.
        auto clipped = [&](std::vector<Value> clip) {
            auto v = box(1.5, 3);
            v.insert(v.end(), clip.begin(), clip.end());
            return v;
        };
        notice(p, Op::ElementBox, clipped({Value::fromR8(0), Value::fromR8(-1), Value::fromI4(9)}));
        notice(p, Op::ElementBox,
               clipped({Value::fromR8(0), Value::fromR8(1), Value::fromR8(-2), Value::fromR8(3)}));
        notice(p, Op::ElementBox,
               clipped({Value::fromR8(0), Value::fromR8(INFINITY), Value::fromR8(2),
                        Value::fromR8(3)}));
        notice(
            p, Op::ElementBox,
            clipped({Value::fromR8(0.5), Value::fromI4(-1), Value::fromR8(200), Value::fromI4(0)}));
        // Gone: an unknown element changes nothing; the element's object is let go once.
        notice(p, Op::ElementGone, {Value::fromI4(2)});
        notice(p, Op::ElementGone, {Value::fromI4(-1)});
        notice(p, Op::ElementGone, {Value::fromI4(1)});
        notice(p, Op::ElementGone, {Value::fromI4(1)});
        EXPECT_EQ(errorOf(member(p, 17, 1, 0, {})), RPC_E_DISCONNECTED);

        // A page cannot make more than a bounded number of objects.
        createdBefore = host.created.size();
        std::int32_t refusedAt = 0;
        for (std::int32_t i = 0; i <= static_cast<std::int32_t>(BridgeConnection::maxElements);
             ++i) {
            if (errorOf(connect(p, 100 + i, Value::fromI4(10 + i), player)) == E_OUTOFMEMORY) {
                refusedAt = i;
                break;
            }
        }
        EXPECT_EQ(refusedAt, static_cast<std::int32_t>(BridgeConnection::maxElements));
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done; }));
    page.join();
    ASSERT_EQ(host.created.size(), createdBefore + BridgeConnection::maxElements);
    EXPECT_EQ(host.created.at(0), guid("{6BF52A52-394A-11D3-B153-00C04F79FAA6}"));
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].second, (ElementBox{1.5, 2, 3, 4, true}));
    EXPECT_EQ(host.boxes[1].second,
              (ElementBox{1.5, 2, 3, 4, true, norv::web::ElementClip{0.5, -1, 200, 0}}));
    // The element that went first; then the page's end released the rest, telling the host
    // (once the connection has read the end of the page's socket).
    EXPECT_TRUE(
        pumpUntil([&] { return host.released.size() == 1u + BridgeConnection::maxElements; }));
    ASSERT_EQ(host.released.size(), 1u + BridgeConnection::maxElements);
    EXPECT_EQ(host.released[0], host.boxes[0].first);
    EXPECT_EQ(connection->liveElements(), 0u);
    EXPECT_EQ(TestObject::live, 0);
}
