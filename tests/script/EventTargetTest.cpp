// The event target's list rules and the event object, with native listeners standing in
// for script functions.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include "script/EventTarget.h"
#include "script/TaviEvent.h"

namespace norv::test {
namespace {

using namespace com;
using script::EventTarget;
using script::TaviEvent;

// A script function: its default member runs `body` with the event it is given.
class Listener final : public ComObject<Listener, IDispatch> {
public:
    explicit Listener(std::function<void(IDispatch*)> body = {}) : body_(std::move(body)) {}
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr>, LCID, std::span<DISPID>) override {
        return E_NOTIMPL;
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DispParams& params, Variant*,
                   ExcepInfo*, std::uint32_t*) override {
        if (id != DISPID_VALUE || flags != DISPATCH_METHOD || params.args.size() != 1 ||
            params.args[0].vt() != VT_DISPATCH)
            return DISP_E_MEMBERNOTFOUND;
        ++calls;
        if (body_)
            body_(params.args[0].dispatch());
        return E_FAIL; // what a listener returns is not reported
    }
    void setBody(std::function<void(IDispatch*)> body) { body_ = std::move(body); }
    int calls = 0;

private:
    std::function<void(IDispatch*)> body_;
};

class EventTargetTest : public ::testing::Test {
protected:
    ComPtr<Listener> listener(std::function<void(IDispatch*)> body = {}) {
        return makeObject<Listener>(std::move(body));
    }
    HRESULT add(const char16_t* type, const ComPtr<Listener>& l, VARIANT_BOOL capture = 0) {
        return target.addEventListener(Bstr(type), l.get(), capture);
    }
    HRESULT remove(const char16_t* type, const ComPtr<Listener>& l, VARIANT_BOOL capture = 0) {
        return target.removeEventListener(Bstr(type), l.get(), capture);
    }
    void fire(const char16_t* type) { ASSERT_EQ(target.fire(type, source.get()), S_OK); }

    ComPtr<Listener> source = listener(); // the object that fires
    EventTarget target;
};

TEST_F(EventTargetTest, ListenersOfATypeAreCalledOnceEachInRegistrationOrder) {
    std::vector<int> order;
    auto a = listener([&](IDispatch*) { order.push_back(1); });
    auto b = listener([&](IDispatch*) { order.push_back(2); });
    auto c = listener([&](IDispatch*) { order.push_back(3); });
    auto other = listener();
    EXPECT_EQ(add(u"moved", a), S_OK);
    EXPECT_EQ(add(u"Moved", b), S_OK);
    EXPECT_EQ(add(u"MOVED", a), S_FALSE) << "the type is compared without regard to case";
    EXPECT_EQ(add(u"moved", c), S_OK);
    EXPECT_EQ(add(u"resized", other), S_OK);
    EXPECT_EQ(add(u"resized", a), S_OK) << "another type is another registration";
    fire(u"moved");
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(other->calls, 0);

    EXPECT_EQ(add(u"moved", a, VARIANT_TRUE), E_INVALIDARG) << "no capture listeners";
    EXPECT_EQ(remove(u"moved", a, VARIANT_TRUE), E_INVALIDARG);
    EXPECT_EQ(target.addEventListener(Bstr(), a.get(), VARIANT_FALSE), E_INVALIDARG);
    EXPECT_EQ(remove(u"unknown", a), S_FALSE);
    EXPECT_EQ(target.dispatchEvent(Bstr(u"moved"), nullptr), E_INVALIDARG);
    EXPECT_EQ(target.invokeListener(999, source.get()), E_NOINTERFACE);

    // Removals outside a dispatch take effect at once.
    EXPECT_EQ(remove(u"moved", b), S_OK);
    EXPECT_EQ(remove(u"moved", b), S_FALSE);
    fire(u"moved");
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 1, 3}));
}

TEST_F(EventTargetTest, ListenersChangingTheListDuringADispatch) {
    std::vector<char> calls;
    ComPtr<Listener> a, b, c, d, late, lateOfLast;
    a = listener([&](IDispatch*) {
        calls.push_back('a');
        remove(u"moved", a); // itself
        remove(u"moved", c); // one whose turn has not come
        add(u"moved", late);
    });
    b = listener([&](IDispatch*) { calls.push_back('b'); });
    c = listener([&](IDispatch*) { calls.push_back('c'); });
    d = listener([&](IDispatch*) {
        calls.push_back('d');
        add(u"moved", lateOfLast);
    });
    late = listener([&](IDispatch*) { calls.push_back('l'); });
    lateOfLast = listener([&](IDispatch*) { calls.push_back('z'); });
    for (auto* l : {&a, &b, &c})
        add(u"moved", *l);
    fire(u"moved");
    // A and C are still called in this dispatch; the listener A added is reached, being
    // added while A was not the last. D is added only now.
    EXPECT_EQ(calls, (std::vector<char>{'a', 'b', 'c', 'l'}));

    calls.clear();
    add(u"moved", d);
    fire(u"moved");
    EXPECT_EQ(calls, (std::vector<char>{'b', 'l', 'd'})) << "added by the last: not reached";
    calls.clear();
    fire(u"moved");
    EXPECT_EQ(calls, (std::vector<char>{'b', 'l', 'd', 'z'}));
}

TEST_F(EventTargetTest, RemovalsDuringADispatchCompleteWhenItEnds) {
    auto resized = listener();
    auto undone = listener();
    bool first = true;
    auto mover = listener([&](IDispatch*) {
        if (!std::exchange(first, false))
            return;
        EXPECT_EQ(remove(u"resized", resized), S_OK);
        EXPECT_EQ(remove(u"resized", resized), S_FALSE) << "already waiting";
        EXPECT_EQ(remove(u"moved", undone), S_OK);
        EXPECT_EQ(add(u"moved", undone), S_OK) << "the waiting removal is undone";
    });
    add(u"moved", mover);
    add(u"moved", undone);
    add(u"resized", resized);
    fire(u"moved");
    EXPECT_EQ(undone->calls, 1);
    fire(u"resized");
    EXPECT_EQ(resized->calls, 0) << "a listener of another type removed during a dispatch";
    fire(u"moved");
    EXPECT_EQ(undone->calls, 2);
}

TEST_F(EventTargetTest, TheEventNamesItsTypeAndTargetAndNothingElse) {
    ComPtr<IDispatch> received;
    auto l = listener([&](IDispatch* e) { received = e; });
    add(u"apply", l);
    fire(u"apply");
    ComPtr<typelib::IEvent> event = received.as<typelib::IEvent>();
    ASSERT_TRUE(event);
    Bstr type;
    ASSERT_EQ(event->get_type(&type), S_OK);
    EXPECT_EQ(type.str(), u"apply");
    ComPtr<IDispatch> target, current;
    event->get_target(target.put());
    event->get_currentTarget(current.put());
    EXPECT_TRUE(sameObject(target.get(), source.get()));
    EXPECT_EQ(target, current);
    std::int32_t phase = 0;
    VARIANT_BOOL bubbles = -1, cancelable = -1;
    Variant stamp;
    event->get_eventPhase(&phase);
    event->get_bubbles(&bubbles);
    event->get_cancelable(&cancelable);
    event->get_timeStamp(&stamp);
    EXPECT_EQ(phase, 2);
    EXPECT_EQ(bubbles, VARIANT_FALSE);
    EXPECT_EQ(cancelable, VARIANT_FALSE);
    EXPECT_EQ(stamp.vt(), VT_DATE);
    EXPECT_EQ(stamp.date(), 0.0);
    EXPECT_EQ(event->stopPropagation(), E_NOTIMPL);
    EXPECT_EQ(event->preventDefault(), E_NOTIMPL);
    EXPECT_EQ(event->initEvent(Bstr(u"x"), 0, 0), E_NOTIMPL);
    EXPECT_EQ(event->get_type(nullptr), E_POINTER);
    EXPECT_EQ(event->get_timeStamp(nullptr), E_POINTER);
}

TEST_F(EventTargetTest, NoLockIsHeldWhileAListenerRuns) {
    // The listener waits for another thread that changes the list; were the list locked
    // during the call, that thread could not finish.
    auto removed = listener();
    auto added = listener();
    bool finished = false;
    std::future<void> other; // outlives the listener: a blocked thread cannot block it
    auto waiter = listener([&](IDispatch*) {
        other = std::async(std::launch::async, [&] {
            remove(u"moved", removed);
            add(u"resized", added);
        });
        finished = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    });
    add(u"moved", waiter);
    add(u"moved", removed);
    fire(u"moved");
    other.get();
    EXPECT_TRUE(finished);
    EXPECT_EQ(removed->calls, 1) << "removed while its turn had not come";
    fire(u"moved");
    EXPECT_EQ(removed->calls, 1);
}

} // namespace
} // namespace norv::test
