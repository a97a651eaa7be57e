// The display service against a desktop double: the window table and its flag words, the
// timers and their intervals, what a tick does, and when the idle inhibition is held.
#include "script/TaviDisplay.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "platform/com/Dispatch.h"
#include "script/NativeWindowHandle.h"

namespace norv::script {
namespace {

using namespace std::chrono_literals;
using com::HRESULT;

class FakeDesktop final : public DisplayDesktop {
public:
    struct Timer {
        DisplayKind kind;
        std::chrono::milliseconds interval;
        std::function<void()> tick;
        bool alive = true;
    };
    class TimerHandle final : public Handle {
    public:
        explicit TimerHandle(std::shared_ptr<Timer> t) : timer(std::move(t)) {}
        ~TimerHandle() override { timer->alive = false; }
        std::shared_ptr<Timer> timer;
    };
    class InhibitionHandle final : public Handle {
    public:
        InhibitionHandle(FakeDesktop& d, NativeWindow w) : desktop(d), window(w) {
            desktop.inhibitions.insert(window);
        }
        ~InhibitionHandle() override { desktop.inhibitions.erase(window); }
        FakeDesktop& desktop;
        NativeWindow window;
    };

    // The desktop's state as a user would set it.
    std::map<DisplayKind, std::optional<std::uint32_t>> timeouts{{DisplayKind::screenSaver, 600u},
                                                                 {DisplayKind::powerOff, 900u}};
    bool rewriteFails = false;
    std::set<NativeWindow> existing{1, 2, 3};
    NativeWindow front = 0;

    // What the service did to it.
    std::map<DisplayKind, int> rewrites;
    int idleResets = 0;
    std::multiset<NativeWindow> inhibitions;
    std::vector<std::shared_ptr<Timer>> timers;
    std::set<NativeWindow> watched;
    std::vector<Observer*> observers;

    std::optional<std::uint32_t> timeout(DisplayKind kind) override { return timeouts[kind]; }
    bool rewriteTimeout(DisplayKind kind) override {
        ++rewrites[kind];
        return !rewriteFails;
    }
    void resetIdle() override { ++idleResets; }
    bool isInFront(NativeWindow window) override { return window != 0 && window == front; }
    std::unique_ptr<Handle> startTimer(DisplayKind kind, std::chrono::milliseconds interval,
                                       std::function<void()> tick) override {
        auto timer = std::make_shared<Timer>(Timer{kind, interval, std::move(tick)});
        timers.push_back(timer);
        return std::make_unique<TimerHandle>(timer);
    }
    std::unique_ptr<Handle> inhibitIdle(NativeWindow window) override {
        return std::make_unique<InhibitionHandle>(*this, window);
    }
    bool watchWindow(NativeWindow window) override {
        if (!existing.contains(window))
            return false;
        watched.insert(window);
        return true;
    }
    void unwatchWindow(NativeWindow window) override { watched.erase(window); }
    void addObserver(Observer* o) override { observers.push_back(o); }
    void removeObserver(Observer* o) override { std::erase(observers, o); }

    // The running timer of a kind; null when none runs.
    std::shared_ptr<Timer> running(DisplayKind kind) const {
        std::shared_ptr<Timer> found;
        for (const auto& t : timers) {
            if (t->alive && t->kind == kind) {
                EXPECT_FALSE(found) << "two timers of one kind";
                found = t;
            }
        }
        return found;
    }
    std::optional<std::chrono::milliseconds> interval(DisplayKind kind) const {
        auto t = running(kind);
        return t ? std::optional(t->interval) : std::nullopt;
    }
    void tick(DisplayKind kind) {
        auto t = running(kind);
        ASSERT_TRUE(t);
        t->tick();
    }
    void bringToFront(NativeWindow window) {
        front = window;
        for (Observer* o : std::vector(observers))
            o->foregroundChanged();
    }
    void destroy(NativeWindow window) {
        existing.erase(window);
        if (watched.erase(window))
            for (Observer* o : std::vector(observers))
                o->windowDestroyed(window);
    }
};

// A page window object as the host hands it to script.
class PageWindow final : public com::ComObject<PageWindow, com::IDispatch, INativeWindowHandle> {
public:
    explicit PageWindow(NativeWindow w) : window(w) {}
    HRESULT get_nativeWindow(NativeWindow* out) override {
        *out = window;
        return com::S_OK;
    }
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override {
        return com::E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr>, com::LCID,
                          std::span<com::DISPID>) override {
        return com::E_NOTIMPL;
    }
    HRESULT Invoke(com::DISPID, const com::IID&, com::LCID, std::uint16_t, com::DispParams&,
                   com::Variant*, com::ExcepInfo*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }
    NativeWindow window;
};

// Any other script object.
class PlainObject final : public com::ComObject<PlainObject, com::IDispatch> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override {
        return com::E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr>, com::LCID,
                          std::span<com::DISPID>) override {
        return com::E_NOTIMPL;
    }
    HRESULT Invoke(com::DISPID, const com::IID&, com::LCID, std::uint16_t, com::DispParams&,
                   com::Variant*, com::ExcepInfo*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }
};

constexpr auto kSaver = DisplayKind::screenSaver;
constexpr auto kPower = DisplayKind::powerOff;
constexpr com::VARIANT_BOOL kKeepAway = com::VARIANT_FALSE;
constexpr com::VARIANT_BOOL kAllow = com::VARIANT_TRUE;

class TaviDisplayTest : public ::testing::Test {
protected:
    com::IDispatch* page(NativeWindow w) {
        auto& p = pages_[w];
        if (!p)
            p = com::makeObject<PageWindow>(w);
        return p.get();
    }

    std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
    com::ComPtr<TaviDisplay> display = com::makeObject<TaviDisplay>(desktop);

private:
    std::map<NativeWindow, com::ComPtr<PageWindow>> pages_;
};

TEST_F(TaviDisplayTest, TimerIntervalsFollowTheTimeouts) {
    desktop->timeouts[kSaver] = 600u;
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(desktop->interval(kSaver), 480000ms);
    EXPECT_EQ(desktop->rewrites[kSaver], 1);

    // No time-out: a 10 s timer and nothing written.
    desktop->timeouts[kPower] = 0u;
    EXPECT_EQ(display->enablePowerOff(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(desktop->interval(kPower), 10000ms);
    EXPECT_EQ(desktop->rewrites[kPower], 0);

    // A time-out that cannot be read (no DPMS) is no failure: the same 10 s and no write.
    desktop->timeouts[kPower] = std::nullopt;
    EXPECT_EQ(display->enablePowerOff(page(2), kKeepAway), com::S_OK);
    EXPECT_EQ(desktop->interval(kPower), 10000ms);
    EXPECT_EQ(desktop->rewrites[kPower], 0);

    EXPECT_EQ(TaviDisplay::intervalFor(1), 800ms);
    EXPECT_EQ(TaviDisplay::intervalFor(7), 5600ms);
    EXPECT_EQ(TaviDisplay::intervalFor(32767), 26213600ms);
}

TEST_F(TaviDisplayTest, FlagWordsOfOneWindow) {
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(display->enablePowerOff(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(display->flags(1), 3u);

    EXPECT_EQ(display->enablePowerOff(page(1), kAllow), com::S_OK);
    EXPECT_EQ(display->flags(1), 2u);
    EXPECT_FALSE(desktop->interval(kPower));
    EXPECT_TRUE(desktop->interval(kSaver));

    EXPECT_EQ(display->enablePowerOff(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(display->enableScreenSaver(page(1), kAllow), com::S_OK);
    EXPECT_EQ(display->flags(1), 1u);

    EXPECT_EQ(display->enablePowerOff(page(1), kAllow), com::S_OK);
    EXPECT_EQ(display->windowCount(), 0u);
    EXPECT_FALSE(desktop->interval(kPower));
    EXPECT_FALSE(desktop->interval(kSaver));
    EXPECT_TRUE(desktop->watched.empty());

    // Allowing what was never kept away changes nothing.
    EXPECT_EQ(display->enableScreenSaver(page(2), kAllow), com::S_OK);
    EXPECT_EQ(display->windowCount(), 0u);
}

TEST_F(TaviDisplayTest, AllowingOneWindowKeepsTheOthersSuppression) {
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(display->enableScreenSaver(page(2), kKeepAway), com::S_OK);
    const auto timer = desktop->running(kSaver);

    EXPECT_EQ(display->enableScreenSaver(page(1), kAllow), com::S_OK);
    EXPECT_EQ(desktop->running(kSaver), timer);
    desktop->bringToFront(2);
    const int resets = desktop->idleResets;
    desktop->tick(kSaver);
    EXPECT_EQ(desktop->idleResets, resets + 1);

    EXPECT_EQ(display->enableScreenSaver(page(2), kAllow), com::S_OK);
    EXPECT_FALSE(desktop->running(kSaver));
}

TEST_F(TaviDisplayTest, TicksActOnlyWhileAWindowThatAskedIsInFront) {
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(display->enablePowerOff(page(2), kKeepAway), com::S_OK);

    // Another program in front: nothing is written or reset, the timer stays.
    desktop->bringToFront(99);
    int writes = desktop->rewrites[kSaver];
    int resets = desktop->idleResets;
    desktop->tick(kSaver);
    EXPECT_EQ(desktop->rewrites[kSaver], writes);
    EXPECT_EQ(desktop->idleResets, resets);
    EXPECT_TRUE(desktop->running(kSaver));

    // A window in front that keeps only the power-off away does not hold back the screen
    // saver.
    desktop->bringToFront(2);
    desktop->tick(kSaver);
    EXPECT_EQ(desktop->rewrites[kSaver], writes);
    EXPECT_EQ(desktop->idleResets, resets);
    desktop->tick(kPower);
    EXPECT_EQ(desktop->idleResets, resets + 1);

    desktop->bringToFront(1);
    desktop->tick(kSaver);
    EXPECT_EQ(desktop->rewrites[kSaver], writes + 1);
    EXPECT_EQ(desktop->idleResets, resets + 2);
}

TEST_F(TaviDisplayTest, ATimeoutChangedByTheUserRestartsTheTimer) {
    desktop->bringToFront(1);
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    const auto first = desktop->running(kSaver);

    desktop->tick(kSaver);
    EXPECT_EQ(desktop->running(kSaver), first);

    desktop->timeouts[kSaver] = 300u;
    desktop->tick(kSaver);
    EXPECT_NE(desktop->running(kSaver), first);
    EXPECT_EQ(desktop->interval(kSaver), 240000ms);

    // Switched off by the user: the 10 s timer, and nothing written any more.
    desktop->timeouts[kSaver] = 0u;
    const int writes = desktop->rewrites[kSaver];
    desktop->tick(kSaver);
    EXPECT_EQ(desktop->interval(kSaver), 10000ms);
    EXPECT_EQ(desktop->rewrites[kSaver], writes);

    // A second call notices a change too.
    desktop->timeouts[kSaver] = 60u;
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(desktop->interval(kSaver), 48000ms);
}

TEST_F(TaviDisplayTest, FailuresLeaveTheTableAsItWas) {
    EXPECT_EQ(display->enableScreenSaver(nullptr, kKeepAway), com::E_POINTER);
    auto plain = com::makeObject<PlainObject>();
    EXPECT_EQ(display->enableScreenSaver(plain.get(), kKeepAway), com::E_NOINTERFACE);
    // A window object whose window does not exist (yet or any more).
    EXPECT_EQ(display->enableScreenSaver(page(0), kKeepAway), com::E_HANDLE);
    EXPECT_EQ(display->enableScreenSaver(page(42), kKeepAway), com::E_HANDLE);
    EXPECT_EQ(display->windowCount(), 0u);
    EXPECT_FALSE(desktop->running(kSaver));

    // Writing the time-out back fails.
    EXPECT_EQ(display->enablePowerOff(page(1), kKeepAway), com::S_OK);
    desktop->rewriteFails = true;
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::E_FAIL);
    EXPECT_EQ(display->enableScreenSaver(page(2), kKeepAway), com::E_FAIL);
    EXPECT_EQ(display->flags(1), 1u);
    EXPECT_EQ(display->flags(2), 0u);
    EXPECT_FALSE(desktop->running(kSaver));
    EXPECT_FALSE(desktop->watched.contains(2));
}

TEST_F(TaviDisplayTest, IdleInhibitionIsHeldWhileAWindowThatAskedIsInFront) {
    desktop->bringToFront(1);
    EXPECT_EQ(display->enableScreenSaver(page(1), kKeepAway), com::S_OK);
    EXPECT_EQ(desktop->inhibitions, std::multiset<NativeWindow>{1});

    // Leaving the front gives it back at once; coming back takes it again.
    desktop->bringToFront(99);
    EXPECT_TRUE(desktop->inhibitions.empty());
    desktop->bringToFront(1);
    EXPECT_EQ(desktop->inhibitions, std::multiset<NativeWindow>{1});

    // It moves with the front between two windows that asked.
    EXPECT_EQ(display->enablePowerOff(page(2), kKeepAway), com::S_OK);
    desktop->bringToFront(2);
    EXPECT_EQ(desktop->inhibitions, std::multiset<NativeWindow>{2});

    // Allowed again.
    EXPECT_EQ(display->enablePowerOff(page(2), kAllow), com::S_OK);
    EXPECT_TRUE(desktop->inhibitions.empty());

    // Destroyed: the window leaves the table and its timer stops.
    desktop->bringToFront(1);
    EXPECT_EQ(desktop->inhibitions, std::multiset<NativeWindow>{1});
    desktop->destroy(1);
    EXPECT_TRUE(desktop->inhibitions.empty());
    EXPECT_EQ(display->windowCount(), 0u);
    EXPECT_FALSE(desktop->running(kSaver));

    // The service going away.
    EXPECT_EQ(display->enableScreenSaver(page(3), kKeepAway), com::S_OK);
    desktop->bringToFront(3);
    EXPECT_EQ(desktop->inhibitions, std::multiset<NativeWindow>{3});
    display.reset();
    EXPECT_TRUE(desktop->inhibitions.empty());
    EXPECT_FALSE(desktop->running(kSaver));
    EXPECT_TRUE(desktop->observers.empty());
}

TEST_F(TaviDisplayTest, ScriptReachesTheMethodsThroughTheTypeLibrary) {
    com::IDispatch* dispatch = static_cast<typelib::ITaviDisplay*>(display.get());
    com::Variant args[2] = {com::Variant::fromDispatch(page(1)), com::Variant::fromBool(false)};
    EXPECT_EQ(
        com::invokeByName(dispatch, u"enableScreenSaver", com::DISPATCH_METHOD, args, nullptr),
        com::S_OK);
    EXPECT_EQ(com::invokeByName(dispatch, u"ENABLEPOWEROFF", com::DISPATCH_METHOD, args, nullptr),
              com::S_OK);
    EXPECT_EQ(display->flags(1), 3u);
    com::Variant allow[2] = {com::Variant::fromDispatch(page(1)), com::Variant::fromBool(true)};
    EXPECT_EQ(
        com::invokeByName(dispatch, u"enableScreenSaver", com::DISPATCH_METHOD, allow, nullptr),
        com::S_OK);
    EXPECT_EQ(display->flags(1), 1u);
}

} // namespace
} // namespace norv::script
