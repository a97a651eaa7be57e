#include <gtest/gtest.h>

#include <glib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/com/ConnectionPoint.h"
#include "platform/com/Dispatch.h"
#include "platform/com/GlobalInterfaceTable.h"

using namespace norv::com;

namespace {

// A listener that records the thread each call runs on.
class Listener final : public ComObject<Listener, IDispatch> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr>, LCID, std::span<DISPID> ids) override {
        ids[0] = DISPID_VALUE;
        return S_OK;
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t, DispParams& params, Variant* result,
                   ExcepInfo*, std::uint32_t*) override {
        calledOn = std::this_thread::get_id();
        lastId = id;
        if (!params.args.empty())
            lastArg = params.args[0].i4();
        if (result)
            *result = Variant::fromI4(lastArg * 2);
        return S_OK;
    }
    std::thread::id calledOn;
    DISPID lastId = -100;
    std::int32_t lastArg = 0;
    std::uint32_t refs() const { return refCount(); }
};

struct INotDispatch : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000300}");
    using Base = IUnknown;
};
class Plain final : public ComObject<Plain, INotDispatch> {};

// The test thread owns a main context of its own, which it iterates while it waits.
class GitTest : public ::testing::Test {
protected:
    void SetUp() override {
        context = g_main_context_new();
        g_main_context_push_thread_default(context);
    }
    void TearDown() override {
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
    // Runs the owning thread's context until `done` holds or a deadline passes.
    bool serveUntil(const std::atomic<bool>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done.load()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            g_main_context_iteration(context, FALSE);
            std::this_thread::yield();
        }
        return true;
    }
    GMainContext* context = nullptr;
};

TEST_F(GitTest, OwningThreadGetsTheObjectItself) {
    ComPtr<Listener> listener = makeObject<Listener>();
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerInterfaceInGlobal(listener->unknown(), IDispatch::iid, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(listener->refs(), 2u);
    ComPtr<IDispatch> same;
    ASSERT_EQ(getInterfaceFromGlobal(cookie, same), S_OK);
    EXPECT_EQ(same.get(), static_cast<IDispatch*>(listener.get()));
    same.reset();
    ASSERT_EQ(revokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(listener->refs(), 1u);
    EXPECT_EQ(getInterfaceFromGlobal(cookie, same), E_INVALIDARG);
    EXPECT_EQ(revokeInterfaceFromGlobal(cookie), E_INVALIDARG);
}

TEST_F(GitTest, CallFromWorkerRunsOnTheOwningThread) {
    ComPtr<Listener> listener = makeObject<Listener>();
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerInterfaceInGlobal(listener->unknown(), IDispatch::iid, &cookie), S_OK);

    std::atomic<bool> done{false};
    HRESULT hr = E_FAIL, getHr = E_FAIL;
    std::int32_t answer = 0;
    bool gotProxy = false;
    std::thread worker([&] {
        ComPtr<IDispatch> proxy;
        getHr = getInterfaceFromGlobal(cookie, proxy);
        if (succeeded(getHr)) {
            gotProxy = proxy.get() != static_cast<IDispatch*>(listener.get());
            Variant args[1] = {Variant::fromI4(21)};
            Variant result;
            hr = invokeByName(proxy.get(), u"anything", DISPATCH_METHOD, args, &result);
            answer = result.i4();
        }
        done = true;
    });
    bool served = serveUntil(done);
    worker.join();
    ASSERT_TRUE(served);
    ASSERT_EQ(getHr, S_OK);
    EXPECT_TRUE(gotProxy);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(listener->calledOn, std::this_thread::get_id());
    EXPECT_EQ(listener->lastId, DISPID_VALUE);
    ASSERT_EQ(revokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(listener->refs(), 1u);
}

TEST_F(GitTest, RevokingReleasesWaitingCallers) {
    ComPtr<Listener> listener = makeObject<Listener>();
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerInterfaceInGlobal(listener->unknown(), IDispatch::iid, &cookie), S_OK);
    ComPtr<IDispatch> proxy;
    std::thread([&] { ASSERT_EQ(getInterfaceFromGlobal(cookie, proxy), S_OK); }).join();
    ASSERT_TRUE(proxy);

    std::atomic<bool> started{false}, done{false};
    HRESULT hr = S_OK;
    std::thread worker([&] {
        started = true;
        DispParams none{};
        hr = proxy->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, none, nullptr, nullptr, nullptr);
        done = true;
    });
    // Without serving the context, revoke: the waiting call returns.
    while (!started.load())
        std::this_thread::yield();
    ASSERT_EQ(revokeInterfaceFromGlobal(cookie), S_OK);
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    EXPECT_EQ(listener->lastId, -100); // never ran
    // The queued call, when the context finally runs, does nothing.
    while (g_main_context_iteration(context, FALSE)) {
    }
    EXPECT_EQ(listener->lastId, -100);
    DispParams none{};
    EXPECT_EQ(proxy->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, none, nullptr, nullptr, nullptr),
              RPC_E_DISCONNECTED);
    proxy.reset();
    EXPECT_EQ(listener->refs(), 1u);
}

TEST_F(GitTest, OnlyDispatchCrossesThreads) {
    ComPtr<Plain> plain = makeObject<Plain>();
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerInterfaceInGlobal(plain->unknown(), INotDispatch::iid, &cookie), S_OK);
    HRESULT hr = S_OK, hr2 = S_OK;
    std::thread([&] {
        ComPtr<INotDispatch> p;
        hr = getInterfaceFromGlobal(cookie, p);
        ComPtr<IUnknown> u;
        hr2 = getInterfaceFromGlobal(cookie, u);
    }).join();
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_EQ(hr2, E_NOINTERFACE);
    EXPECT_EQ(registerInterfaceInGlobal(plain->unknown(), IDispatch::iid, &cookie), E_NOINTERFACE);
    EXPECT_EQ(revokeInterfaceFromGlobal(cookie), E_INVALIDARG);
}

TEST_F(GitTest, ConnectionCookiesAreSlotsAndFreeSlotsAreReused) {
    ComPtr<ConnectionPoint> point = makeObject<ConnectionPoint>(IDispatch::iid, nullptr);
    ComPtr<Listener> a = makeObject<Listener>(), b = makeObject<Listener>(),
                     c = makeObject<Listener>();
    std::uint32_t ca = 0, cb = 0, cc = 0;
    ASSERT_EQ(point->Advise(a->unknown(), &ca), S_OK);
    ASSERT_EQ(point->Advise(b->unknown(), &cb), S_OK);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(a->refs(), 2u);
    ASSERT_EQ(point->Unadvise(ca), S_OK);
    EXPECT_EQ(a->refs(), 1u);
    EXPECT_EQ(point->Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(9), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(point->Advise(c->unknown(), &cc), S_OK);
    EXPECT_EQ(cc, 1u); // the free slot again

    std::vector<ConnectData> connections;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0].cookie, 1u);
    EXPECT_TRUE(sameObject(connections[0].sink.get(), c->unknown()));
    EXPECT_TRUE(sameObject(connections[1].sink.get(), b->unknown()));
    connections.clear();

    ComPtr<IDispatch> sink;
    ASSERT_EQ(point->getSink(2, IDispatch::iid, sink.putVoid()), S_OK);
    EXPECT_TRUE(sameObject(sink.get(), b->unknown()));
    EXPECT_EQ(point->getSink(3, IDispatch::iid, sink.putVoid()), E_NOINTERFACE);

    ComPtr<Plain> plain = makeObject<Plain>();
    std::uint32_t cp = 7;
    EXPECT_EQ(point->Advise(plain->unknown(), &cp), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cp, 0u);
    IID iid = IID_NULL;
    ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IDispatch::iid);
    point.reset(); // drops every connection
    EXPECT_EQ(b->refs(), 1u);
    EXPECT_EQ(c->refs(), 1u);
}

} // namespace
