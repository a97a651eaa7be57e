// The native window object over a stand-in host window: what script gets back from the
// host's failures, its booleans, the optional arguments of beginResizing, and a window
// that has gone.
#include <gtest/gtest.h>

#include <functional>

#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"
#include "script/EventTarget.h"
#include "script/TaviWindow.h"

namespace norv::test {
namespace {

using namespace com;
using script::TaviWindow;
using typelib::TaviWindowTypes;

// A host window whose operations do what the test says (nothing by default).
class StubHost final : public script::NativeWindowHost {
public:
    std::function<void()> operation = [] {
    };
    bool flag = false;
    std::int32_t args[5] = {-1, -1, -1, -1, -1};
    script::EventTarget events;

    script::EventTarget& windowEvents() override { return events; }
    script::NativeWindow nativeWindowId() override { return 0x2a00005; }
    void setWindowType(TaviWindowTypes) override { operation(); }
    TaviWindowTypes windowType() override {
        operation();
        return typelib::wtCustom;
    }
    void setApplicationWindow(bool on) override { set(on); }
    bool isApplicationWindow() override { return get(); }
    void setMinimizeBox(bool on) override { set(on); }
    bool hasMinimizeBox() override { return get(); }
    void setMaximizeBox(bool on) override { set(on); }
    bool hasMaximizeBox() override { return get(); }
    void setWindowResizable(bool on) override { set(on); }
    bool isWindowResizable() override { return get(); }
    void setAlwaysOnTop(bool on) override { set(on); }
    bool isAlwaysOnTop() override { return get(); }
    void beginResizing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                       std::int32_t e) override {
        operation();
        std::int32_t given[5] = {a, b, c, d, e};
        std::copy(std::begin(given), std::end(given), std::begin(args));
    }
    void abortResizing() override { operation(); }
    void beginMove() override { operation(); }
    void abortMove() override { operation(); }
    void resizeWindowBy(std::int32_t, std::int32_t) override { operation(); }
    void resizeWindowTo(std::int32_t, std::int32_t) override { operation(); }
    void moveWindowBy(std::int32_t, std::int32_t) override { operation(); }
    void moveWindowTo(std::int32_t, std::int32_t) override { operation(); }
    void minimizeWindow() override { operation(); }
    void maximizeWindow() override { operation(); }
    void closeWindow() override { operation(); }
    void reloadPage(bool splash) override { set(splash); }

private:
    void set(bool on) {
        operation();
        flag = on;
    }
    bool get() {
        operation();
        return flag;
    }
};

// A listener standing in for a script function.
class Listener final : public ComObject<Listener, IDispatch> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr>, LCID, std::span<DISPID>) override {
        return E_NOTIMPL;
    }
    HRESULT Invoke(DISPID, const IID&, LCID, std::uint16_t, DispParams&, Variant*, ExcepInfo*,
                   std::uint32_t*) override {
        return S_OK;
    }
};

class TaviWindowTest : public ::testing::Test {
protected:
    // Calls a member by name, as script does.
    HRESULT call(std::u16string_view name, std::vector<Variant> args = {},
                 Variant* result = nullptr) {
        return invokeByName(static_cast<typelib::ITaviWindow*>(window.get()), name, DISPATCH_METHOD,
                            args, result);
    }

    StubHost host;
    ComPtr<TaviWindow> window = makeObject<TaviWindow>(host);
};

TEST_F(TaviWindowTest, TheHostsFailuresReachTheCallerWithTheirCodeAndText) {
    host.operation = [] {
        throw DispatchException(u"The window is screen mode now.");
    };
    clearErrorInfo();
    EXPECT_EQ(call(u"maximize"), DISP_E_EXCEPTION);
    EXPECT_EQ(window->maximize(), E_FAIL);
    auto info = takeErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->description.str(), u"The window is screen mode now.");
    EXPECT_EQ(info->iid, typelib::ITaviWindow::iid);

    host.operation = [] {
        throw OleException(E_ACCESSDENIED);
    };
    EXPECT_EQ(window->minimize(), E_ACCESSDENIED);
    host.operation = [] {
        throw InvalidArgException();
    };
    EXPECT_EQ(window->moveTo(1, 2), E_INVALIDARG);
    host.operation = [] {
        throw std::bad_alloc();
    };
    EXPECT_EQ(window->resizeTo(300, 200), E_OUTOFMEMORY);
}

TEST_F(TaviWindowTest, OnlyTrueIsTrueAndGettersAnswerScriptBooleans) {
    EXPECT_EQ(window->setResizable(1), S_OK);
    VARIANT_BOOL out = 7;
    EXPECT_EQ(window->getResizable(&out), S_OK);
    EXPECT_EQ(out, VARIANT_FALSE);
    EXPECT_EQ(window->setAlwaysOnTop(VARIANT_TRUE), S_OK);
    EXPECT_EQ(window->getAlwaysOnTop(&out), S_OK);
    EXPECT_EQ(out, VARIANT_TRUE);
    EXPECT_EQ(window->getMinimizedBox(nullptr), E_POINTER);
    EXPECT_EQ(window->getType(nullptr), E_POINTER);
    Variant type;
    ASSERT_EQ(call(u"getType", {}, &type), S_OK);
    EXPECT_EQ(type.vt(), VT_I4);
    EXPECT_EQ(type.i4(), 3);
}

TEST_F(TaviWindowTest, BeginResizingWithoutArgumentsGivesZeros) {
    ASSERT_EQ(call(u"beginResizing"), S_OK);
    EXPECT_EQ(std::vector<std::int32_t>(std::begin(host.args), std::end(host.args)),
              std::vector<std::int32_t>(5, 0));
    ASSERT_EQ(call(u"beginResizing", {Variant::fromI4(300), Variant::fromI4(200)}), S_OK);
    EXPECT_EQ(std::vector<std::int32_t>(std::begin(host.args), std::end(host.args)),
              (std::vector<std::int32_t>{300, 200, 0, 0, 0}));
}

TEST_F(TaviWindowTest, ListenersAreTheHostWindowsAndTheirAnswersPassThrough) {
    auto listener = makeObject<Listener>();
    EXPECT_EQ(window->addEventListener(Bstr(u"moved"), listener.get(), VARIANT_FALSE), S_OK);
    EXPECT_EQ(window->addEventListener(Bstr(u"MOVED"), listener.get(), VARIANT_FALSE), S_FALSE);
    EXPECT_EQ(window->addEventListener(Bstr(u"moved"), listener.get(), VARIANT_TRUE), E_INVALIDARG);
    EXPECT_EQ(host.events.removeEventListener(Bstr(u"Moved"), listener.get(), VARIANT_FALSE), S_OK);
    EXPECT_EQ(window->removeEventListener(Bstr(u"moved"), listener.get(), VARIANT_FALSE), S_FALSE);
}

TEST_F(TaviWindowTest, AfterItsWindowWentEveryMemberFails) {
    int reached = 0;
    host.operation = [&] {
        ++reached;
    };
    window->detach();
    auto listener = makeObject<Listener>();
    VARIANT_BOOL flag = VARIANT_FALSE;
    TaviWindowTypes type = typelib::wtAuto;
    const HRESULT results[] = {
        window->addEventListener(Bstr(u"moved"), listener.get(), VARIANT_FALSE),
        window->removeEventListener(Bstr(u"moved"), listener.get(), VARIANT_FALSE),
        window->setType(typelib::wtNormal),
        window->getType(&type),
        window->setApplicationWindow(VARIANT_TRUE),
        window->getApplicationWindow(&flag),
        window->setMinimizedBox(VARIANT_TRUE),
        window->getMinimizedBox(&flag),
        window->setMaximizedBox(VARIANT_TRUE),
        window->getMaximizedBox(&flag),
        window->setResizable(VARIANT_TRUE),
        window->getResizable(&flag),
        window->setAlwaysOnTop(VARIANT_TRUE),
        window->getAlwaysOnTop(&flag),
        window->beginResizing(0, 0, 0, 0, 0),
        window->abortResizing(),
        window->beginMove(),
        window->abortMove(),
        window->resizeBy(1, 1),
        window->resizeTo(300, 200),
        window->moveBy(1, 1),
        window->moveTo(1, 1),
        window->minimize(),
        window->maximize(),
        window->close(),
        window->reload(VARIANT_TRUE)};
    for (HRESULT hr : results)
        EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(reached, 0);
    EXPECT_FALSE(host.flag);
    // The display service still gets an answer: no window.
    script::NativeWindow id = 1;
    EXPECT_EQ(window->get_nativeWindow(&id), S_OK);
    EXPECT_EQ(id, 0u);
}

} // namespace
} // namespace norv::test
