// The style record, the frame kinds, the pending state and the window types, against a
// window system in memory.
#include <gtest/gtest.h>

#include "host/WindowStyleModel.h"
#include "platform/com/Exceptions.h"
#include "tests/host/FakeWindowSystem.h"
#include "tests/host/RecordingHooks.h"

namespace norv::test {
namespace {

using namespace host;
using namespace typelib;

HRESULT failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const com::FrameworkException& e) {
        return e.hresult();
    }
    return S_OK;
}

TEST(FrameKind, IsToldByModalFrameThenSizingBorderThenCaption) {
    EXPECT_EQ((WindowStyle{ws::caption | ws::thickFrame | ws::modalFrame}.frameKind()),
              FrameKind::modalFrame);
    EXPECT_EQ((WindowStyle{ws::caption | ws::thickFrame}.frameKind()), FrameKind::sizable);
    EXPECT_EQ((WindowStyle{ws::thickFrame}.frameKind()), FrameKind::sizable);
    EXPECT_EQ((WindowStyle{ws::caption | ws::sysMenu}.frameKind()), FrameKind::fixedCaption);
    EXPECT_EQ((WindowStyle{ws::border}.frameKind()), FrameKind::none) << "half a caption";
    EXPECT_EQ((WindowStyle{ws::popup}.frameKind()), FrameKind::none);
}

TEST(FrameKind, ApplyingAKindGivesItAndKeepsEveryOtherBit) {
    const WindowStyle dialog = PendingWindowState{}.initialStyle();
    EXPECT_EQ(dialog, (WindowStyle{0x80CB081C, 0x40000}));
    EXPECT_EQ(dialog.withFrameKind(1), (WindowStyle{0x80CF081C, 0x40100}));
    EXPECT_EQ(dialog.withFrameKind(2), (WindowStyle{0x80CB081C, 0x40000}));
    EXPECT_EQ(dialog.withFrameKind(3), (WindowStyle{0x800B081C, 0x40000}));
    EXPECT_EQ(dialog.withFrameKind(4), (WindowStyle{0x80CB089C, 0x40000}));
    // From each kind to each other, whatever else is set.
    const WindowStyle extras{ws::minimizeBox | ws::sysMenu, wsEx::topmost | wsEx::dialogModalFrame};
    for (int from = 1; from <= 4; ++from)
        for (int to = 1; to <= 4; ++to) {
            WindowStyle s = extras.withFrameKind(from).withFrameKind(to);
            EXPECT_EQ(static_cast<int>(s.frameKind()), to) << from << " -> " << to;
            EXPECT_TRUE(s.has(ws::minimizeBox | ws::sysMenu));
            EXPECT_TRUE(s.hasEx(wsEx::topmost));
            EXPECT_EQ(s.hasCaption(), to != 3);
        }
    EXPECT_FALSE(extras.withFrameKind(3).hasEx(wsEx::dialogModalFrame));
    EXPECT_EQ(failureOf([&] { dialog.withFrameKind(0); }), E_INVALIDARG);
    EXPECT_EQ(failureOf([&] { dialog.withFrameKind(5); }), E_INVALIDARG);
}

TEST(PendingWindowState, BuildsTheWindowsFirstStyles) {
    PendingWindowState pending;
    pending.caption = false;
    pending.maximizeBox = false;
    pending.toolWindow = true;
    pending.alwaysOnTop = true;
    pending.applicationWindow = false;
    EXPECT_EQ(pending.initialStyle(), (WindowStyle{0x8008081C | ws::minimizeBox, 0x88}));
}

class WindowStyleModelTest : public ::testing::Test {
protected:
    RecordingHooks hooks;
    FakeWindowSystem window;
    WindowStyleModel model{hooks};
};

TEST_F(WindowStyleModelTest, BeforeTheWindowExistsSettingsLandInThePendingState) {
    model.applyFrameKind(3);
    EXPECT_FALSE(model.pending().caption);
    EXPECT_FALSE(model.pending().minimizeBox);
    EXPECT_EQ(model.getType(), wtCustom);
    model.applyFrameKind(1);
    EXPECT_TRUE(model.pending().caption);
    EXPECT_TRUE(model.pending().minimizeBox);
    EXPECT_TRUE(model.getResizable());
    EXPECT_EQ(failureOf([&] { model.applyFrameKind(9); }), E_INVALIDARG);

    hooks.layoutPending = true;
    model.setType(wtCustom);
    model.setAlwaysOnTop(true);
    model.setApplicationWindow(false);
    model.setCaptionText(u"Pending");
    EXPECT_EQ(model.getType(), wtCustom);
    EXPECT_TRUE(model.isAlwaysOnTop());

    // The window starts as the pending state answered: a sizing border without caption.
    model.attach(window);
    EXPECT_EQ(model.getType(), wtCustom);
    EXPECT_TRUE(model.getResizable());
    EXPECT_TRUE(window.look.sizable);
    EXPECT_FALSE(window.look.titled);
    EXPECT_TRUE(window.look.keepAbove);
    EXPECT_FALSE(window.look.taskbar);
    EXPECT_EQ(model.caption(), u"Pending");
}

TEST_F(WindowStyleModelTest, TypesAreToldFromTheStyles) {
    EXPECT_EQ(failureOf([&] { model.getType(); }), E_FAIL) << "nothing applied yet";
    model.attach(window);
    EXPECT_EQ(failureOf([&] { model.getType(); }), E_FAIL)
        << "a fixed caption that is not a tool window";
    for (TaviWindowTypes type : {wtNormal, wtUtility, wtCustom, wtScreen, wtNormal}) {
        model.setType(type);
        EXPECT_EQ(model.getType(), type);
    }
    model.setResizable(true);
    EXPECT_EQ(model.getType(), wtNormal);
    model.setType(wtCustom);
    EXPECT_EQ(model.getType(), wtCustom) << "a sizing border without a caption";
    EXPECT_FALSE(model.hasCaption());
    model.setType(wtUtility);
    EXPECT_EQ(model.getType(), wtUtility);
    EXPECT_TRUE(model.getResizable());
    EXPECT_EQ(failureOf([&] { model.setType(static_cast<TaviWindowTypes>(7)); }), E_INVALIDARG);

    model.setType(wtScreen);
    model.setResizable(false);
    try {
        model.setResizable(true);
        ADD_FAILURE() << "a screen window cannot be resizable";
    } catch (const com::DispatchException& e) {
        EXPECT_EQ(e.message(), u"Type of wtScreen can't be resizable.");
        EXPECT_EQ(e.code(), 1001);
        EXPECT_EQ(e.hresult(), E_FAIL);
    }
}

TEST_F(WindowStyleModelTest, FrameChangesKeepTheClientAreaInPlaceAndOnScreen) {
    model.attach(window);
    window.client = {100, 100, 500, 400};
    const Rect client = window.client;
    model.setType(wtNormal);
    EXPECT_EQ(window.client, client);
    model.setType(wtCustom);
    EXPECT_EQ(window.client, client);
    EXPECT_EQ(window.windowRect(), client);
    model.setResizable(true);
    EXPECT_EQ(window.client, client);
    model.setType(wtUtility);
    EXPECT_EQ(window.client, client);

    model.setType(wtCustom);
    model.setResizable(false);
    window.client = {0, 5, 400, 305};
    model.setType(wtNormal);
    EXPECT_EQ(window.windowRect().topLeft(), (Point{0, 0}));
    EXPECT_EQ(window.client, (Rect{1, 20, 401, 320}));
}

TEST_F(WindowStyleModelTest, ScreenModeCoversTheMonitorAndLeavingItSizesToTheDeclaration) {
    model.attach(window);
    model.setType(wtNormal);
    const Rect normal = window.windowRect();
    model.setType(wtScreen);
    EXPECT_EQ(window.windowRect(), (Rect{0, 0, 1280, 800}));
    EXPECT_TRUE(model.isScreenMode());
    EXPECT_EQ(hooks.sizedToDeclaration, 0);
    model.setType(wtScreen);
    EXPECT_EQ(window.coverCalls, 1) << "already covering";

    model.setType(wtNormal);
    EXPECT_EQ(window.windowRect().topLeft(), normal.topLeft());
    EXPECT_FALSE(model.isScreenMode());
    EXPECT_EQ(hooks.sizedToDeclaration, 1);
    model.setType(wtCustom);
    EXPECT_EQ(hooks.sizedToDeclaration, 1);
}

TEST_F(WindowStyleModelTest, ClientSizeKeepsTheTopLeftCorner) {
    model.attach(window);
    model.setType(wtNormal);
    Rect before = window.windowRect();
    model.setClientSize(300, 200);
    EXPECT_EQ(window.windowRect().topLeft(), before.topLeft());
    EXPECT_EQ(window.client.width(), 300);
    EXPECT_EQ(window.client.height(), 200);
}

} // namespace
} // namespace norv::test
