// The platform object: which services it hands out, and the two ways it reaches the
// document of a frame, with dispatch objects standing in for the page's elements.
#include <gtest/gtest.h>

#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"
#include "script/TaviPlatform.h"
#include "script/TaviUi.h"
#include "tests/platform/web/TestObject.h"

namespace norv::test {
namespace {

using namespace com;
using script::PlatformServices;
using script::TaviPlatform;

class FakeMedia final : public DispatchObject<FakeMedia, typelib::ITaviMedia> {
public:
    HRESULT createMediaPlayer(IDispatch*, IDispatch**) override { return E_NOTIMPL; }
};
class FakeDisplay final : public DispatchObject<FakeDisplay, typelib::ITaviDisplay> {
public:
    HRESULT enableScreenSaver(IDispatch*, VARIANT_BOOL) override { return S_OK; }
    HRESULT enablePowerOff(IDispatch*, VARIANT_BOOL) override { return S_OK; }
};

// Records the parent each dialog was shown for, and cancels.
class ParentRecorder final : public script::FileChooser {
public:
    std::optional<std::u16string> choose(const script::FileChooserRequest& request) override {
        parents.push_back(request.parent);
        return std::nullopt;
    }
    std::vector<GtkWindow*> parents;
};

class FixedOwner final : public script::DialogOwner {
public:
    explicit FixedOwner(GtkWindow* window) : window_(window) {}
    GtkWindow* dialogParent() override { return window_; }

private:
    GtkWindow* window_;
};

PlatformServices withMediaAndDisplay() {
    PlatformServices s;
    s.makeMedia = [] {
        return ComPtr<typelib::ITaviMedia>(makeObject<FakeMedia>());
    };
    s.makeDisplay = [] {
        return ComPtr<typelib::ITaviDisplay>(makeObject<FakeDisplay>());
    };
    return s;
}

ComPtr<TaviPlatform> make(const PlatformServices& services) {
    ComPtr<TaviPlatform> platform;
    EXPECT_EQ(TaviPlatform::create(services, &platform), S_OK);
    return platform;
}

ComPtr<IDispatch> service(TaviPlatform& platform, const char16_t* name, HRESULT expected = S_OK) {
    ComPtr<IDispatch> out;
    EXPECT_EQ(platform.getService(Bstr(name), out.put()), expected) << Bstr(name).toUtf8();
    return out;
}

TEST(TaviPlatformTest, ServicesByTheirExactNames) {
    auto platform = make(withMediaAndDisplay());
    auto media = service(*platform, u"media");
    ASSERT_TRUE(media);
    EXPECT_EQ(service(*platform, u"media"), media) << "one media service per platform";
    EXPECT_TRUE(media.as<typelib::ITaviMedia>());
    auto display = service(*platform, u"display");
    ASSERT_TRUE(display);
    EXPECT_EQ(service(*platform, u"display"), display);
    EXPECT_TRUE(display.as<typelib::ITaviDisplay>());
    auto ui = service(*platform, u"ui");
    ASSERT_TRUE(ui.as<typelib::ITaviUi>());
    EXPECT_NE(service(*platform, u"ui"), ui) << "a new UI service for each call";

    for (const char16_t* other : {u"Media", u"DISPLAY", u"Ui", u"ui ", u"", u"printer"})
        EXPECT_FALSE(service(*platform, other, E_NOINTERFACE));
    const Bstr embedded(std::u16string(u"media\0x", 7));
    ComPtr<IDispatch> out;
    EXPECT_EQ(platform->getService(embedded, out.put()), E_NOINTERFACE)
        << "the whole text is compared";
    EXPECT_EQ(platform->getService(Bstr(), out.put()), E_INVALIDARG);
    EXPECT_EQ(platform->getService(Bstr(u"ui"), nullptr), E_INVALIDARG);
}

TEST(TaviPlatformTest, ServicesItWasMadeWithout) {
    PlatformServices services = withMediaAndDisplay();
    services.makeMedia = nullptr;
    auto platform = make(services);
    EXPECT_FALSE(service(*platform, u"media", E_NOINTERFACE));
    EXPECT_TRUE(service(*platform, u"display"));

    // A service that cannot be made fails the platform object.
    services.makeDisplay = []() -> ComPtr<typelib::ITaviDisplay> {
        throw MemoryException();
    };
    ComPtr<TaviPlatform> failed;
    EXPECT_EQ(TaviPlatform::create(services, &failed), E_OUTOFMEMORY);
    EXPECT_FALSE(failed);
    services.makeDisplay = [] {
        return ComPtr<typelib::ITaviDisplay>();
    };
    EXPECT_EQ(TaviPlatform::create(services, &failed), E_FAIL);
}

TEST(TaviPlatformTest, DialogsAreModalForTheOwnerWhileItLives) {
    auto chooser = std::make_shared<ParentRecorder>();
    PlatformServices services;
    services.fileChooser = chooser;
    auto platform = make(services);
    auto* window = reinterpret_cast<GtkWindow*>(0x1234);
    auto owner = std::make_shared<FixedOwner>(window);

    auto showOne = [&](const ComPtr<IDispatch>& ui) {
        ComPtr<typelib::ITaviFileDialog> dialog;
        ASSERT_EQ(ui.as<typelib::ITaviUi>()->createFileDialog(dialog.put()), S_OK);
        ASSERT_EQ(dialog->put_type(Bstr(u"open")), S_OK);
        ASSERT_EQ(dialog->show(Variant::missing()), S_OK);
    };
    auto before = service(*platform, u"ui");
    platform->setDialogOwner(owner);
    auto after = service(*platform, u"ui");
    showOne(before);
    showOne(after);
    owner.reset(); // the host window went away; script still holds the service
    showOne(after);
    EXPECT_EQ(chooser->parents, (std::vector<GtkWindow*>{nullptr, window, nullptr}));
}

class FrameDocumentTest : public ::testing::Test {
protected:
    FrameDocumentTest() {
        services.frameDocument = [this](IDispatch* element, ComPtr<IDispatch>* out) {
            asked.push_back(element);
            *out = throughFrame;
            return throughFrameResult;
        };
        element->property(u"contentWindow", Variant::fromDispatch(window.get()));
        window->property(u"document", Variant::fromDispatch(document.get()));
    }
    HRESULT obtain(IDispatch* element, ComPtr<IDispatch>* out) {
        if (!platform)
            platform = make(services);
        return platform->obtainCrossDomainDocument(element, out->put());
    }

    PlatformServices services;
    ComPtr<TaviPlatform> platform;
    ComPtr<TestObject> element = makeObject<TestObject>();
    ComPtr<TestObject> window = makeObject<TestObject>();
    ComPtr<TestObject> document = makeObject<TestObject>();
    ComPtr<IDispatch> throughFrame = makeObject<TestObject>();
    HRESULT throughFrameResult = S_OK;
    std::vector<IDispatch*> asked;
};

TEST_F(FrameDocumentTest, TheFramesOwnDocumentWhenThePageMayReadIt) {
    ComPtr<IDispatch> out;
    EXPECT_EQ(obtain(element.get(), &out), S_OK);
    EXPECT_TRUE(sameObject(out.get(), document.get()));
    EXPECT_TRUE(asked.empty()) << "the frame itself is asked only when the page is refused";
}

TEST_F(FrameDocumentTest, ThroughTheFrameWhenThePageIsRefused) {
    window->getter(u"document", [](auto&, Variant*) {
        setErrorInfo(IID_NULL, Bstr(u"Blocked a frame with origin"));
        return DISP_E_EXCEPTION;
    });
    ComPtr<IDispatch> out;
    EXPECT_EQ(obtain(element.get(), &out), S_OK);
    EXPECT_EQ(out, throughFrame);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], element.get());
    EXPECT_FALSE(peekErrorInfo()) << "the page's refusal is no error of this call";

    throughFrame = nullptr; // the frame shows no document (yet)
    EXPECT_EQ(obtain(element.get(), &out), E_FAIL);
    throughFrameResult = hresult(0x80010108); // its page went away
    EXPECT_EQ(obtain(element.get(), &out), throughFrameResult);
    EXPECT_FALSE(out);

    PlatformServices none;
    ComPtr<TaviPlatform> without = make(none);
    EXPECT_EQ(without->obtainCrossDomainDocument(element.get(), out.put()), E_NOINTERFACE);
}

TEST_F(FrameDocumentTest, WhatIsNoFrameWithADocument) {
    ComPtr<IDispatch> out;
    auto paragraph = makeObject<TestObject>();
    EXPECT_EQ(obtain(paragraph.get(), &out), E_NOINTERFACE) << "no contentWindow: no frame";
    element->value(u"contentWindow") = Variant::null();
    EXPECT_EQ(obtain(element.get(), &out), E_FAIL) << "a frame without a window";
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(obtain(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(platform->obtainCrossDomainDocument(element.get(), nullptr), E_POINTER);
}

TEST(TaviPlatformTest, ScriptReachesTheMethodsThroughTheTypeLibrary) {
    auto platform = make(withMediaAndDisplay());
    IDispatch* dispatch = static_cast<typelib::ITaviPlatform*>(platform.get());
    Variant name = Variant::fromBstr(Bstr(u"display")), result;
    ASSERT_EQ(invokeByName(dispatch, u"getService", DISPATCH_METHOD, {&name, 1}, &result), S_OK);
    ASSERT_EQ(result.vt(), VT_DISPATCH);
    EXPECT_TRUE(ComPtr<IDispatch>(result.dispatch()).as<typelib::ITaviDisplay>());
    name = Variant::fromBstr(Bstr(u"Display"));
    EXPECT_EQ(invokeByName(dispatch, u"GETSERVICE", DISPATCH_METHOD, {&name, 1}, &result),
              E_NOINTERFACE);
}

} // namespace
} // namespace norv::test
