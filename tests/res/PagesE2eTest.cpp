// The program's own pages (the start-up splash, the connection error page and the plain
// view dialog) as the browser shows them: each at its res address in a bare 326 x 180
// WebKit view under a private X session, with the script bridge the host gives its pages.
// Pictures of each are left in the build folder.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "host/ExtInitScript.h"
#include "markup/DeclarationExtraction.h"
#include "markup/WindowDescription.h"
#include "platform/web/ResourceScheme.h"
#include "platform/web/ScriptBridge.h"
#include "res/Resources.h"
#include "tests/platform/web/TestObject.h"
#include "tests/support/XSession.h"

using namespace norv;
using namespace norv::com;
using namespace norv::test;

namespace {

bool pumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 30s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    // A ticking source, so that the loop wakes to look at the condition.
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = false;
    while (!(ok = cond()) && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

std::string text(const Variant& v) {
    if (v.vt() == VT_BOOL)
        return v.boolVal() ? "true" : "false";
    Variant s;
    if (failed(changeType(s, v, VT_BSTR)))
        return "<" + std::to_string(v.vt()) + ">";
    return s.bstr().toUtf8();
}

// Every image the page's style sheet shows, by the name the sheet gives it, with its size
// once loaded ("failed" when it cannot be).
constexpr const char16_t* kCollectImages = uR"JS((function() {
    var urls = [];
    document.querySelectorAll('*').forEach(function(e) {
        var m = /url\("?([^")]*)"?\)/.exec(getComputedStyle(e).backgroundImage);
        if (m && urls.indexOf(m[1]) < 0) urls.push(m[1]);
    });
    window.imageSizes = {};
    window.imageCount = urls.length;
    urls.forEach(function(u) {
        var name = u.substring(u.lastIndexOf('/') + 1), image = new Image();
        image.onload = function() {
            imageSizes[name] = image.naturalWidth + 'x' + image.naturalHeight;
        };
        image.onerror = function() { imageSizes[name] = 'failed'; };
        image.src = u;
    });
})())JS";

std::string selectorOf(markup::IElementDescription* element) {
    Bstr selector;
    if (!element || failed(element->get_cssSelector(&selector)))
        return "<none>";
    return selector.toUtf8();
}

class PagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = std::make_unique<XSession>();
        for (const auto& [name, value] : session_->env())
            setenv(name.c_str(), value.c_str(), 1);
        gtk_init(nullptr, nullptr);
        context_ = webkit_web_context_new();
        web::registerResourceScheme(context_, "res", [](std::string_view uri) {
            auto resource = res::resourceOfUrl(uri);
            return resource ? std::optional<web::SchemeResource>(web::SchemeResource{
                                  std::move(resource->data), std::move(resource->mimeType)})
                            : std::nullopt;
        });
        web::ScriptBridge::prepareContext(context_);
    }
    static void TearDownTestSuite() {
        g_object_unref(context_);
        session_.reset();
    }

    void SetUp() override {
        nativeWindow_ = makeObject<TestObject>();
        nativeWindow_->method(u"reload", [this](std::vector<Variant>& args, Variant*) {
            reloads_.push_back(args.empty() ? Variant() : args[0]);
            return S_OK;
        });
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_widget_set_size_request(window_, 326, 180);
        gtk_window_move(GTK_WINDOW(window_), 40, 40);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        g_signal_connect(view_, "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED)
                                 ++static_cast<PagesTest*>(self)->loads_;
                         }),
                         this);
        bridge_ = std::make_unique<web::ScriptBridge>(view_);
        bridge_->setInitScript(host::kExtInitScript);
        bridge_->bindScriptValue(u"window.tavi._nw", ComPtr<IDispatch>(nativeWindow_.get()));
        gtk_widget_show_all(window_);
    }
    void TearDown() override {
        bridge_.reset();
        gtk_widget_destroy(window_);
        nativeWindow_.reset();
    }

    // Opens resource `name` at its res address.
    void open(const std::string& name) {
        const int before = loads_;
        webkit_web_view_load_uri(view_, res::resourceUrl(name).c_str());
        ASSERT_TRUE(pumpUntil([&] { return loads_ > before && bridge_->hasScriptWindow(); }))
            << name;
    }
    std::string eval(const std::u16string& code) {
        Variant r;
        EXPECT_EQ(bridge_->runScript(code, &r), S_OK) << Bstr(code).toUtf8();
        return text(r);
    }
    std::map<std::string, std::string> imageSizes() {
        eval(kCollectImages);
        EXPECT_TRUE(pumpUntil(
            [&] { return eval(u"Object.keys(imageSizes).length === imageCount") == "true"; }));
        std::map<std::string, std::string> sizes;
        const int count = std::stoi(eval(u"imageCount"));
        for (int i = 0; i < count; ++i) {
            const std::u16string key =
                u"Object.keys(imageSizes)[" + com::utf8ToUtf16(std::to_string(i)) + u"]";
            sizes[eval(key)] = eval(u"imageSizes[" + key + u"]");
        }
        return sizes;
    }
    // The page's declaration, found as the host finds it: the first child of the head
    // whose content unwraps to something that looks like one.
    ComPtr<markup::WindowDescription> declaration() {
        auto description = makeObject<markup::WindowDescription>();
        const int children = std::stoi(eval(u"document.head.children.length"));
        for (int i = 0; i < children; ++i) {
            const std::string inner = eval(u"document.head.children[" +
                                           com::utf8ToUtf16(std::to_string(i)) + u"].innerHTML");
            auto unwrapped = markup::unwrapDeclaration(com::utf8ToUtf16(inner));
            if (unwrapped && markup::looksLikeDeclaration(*unwrapped)) {
                EXPECT_EQ(description->loadXml(Bstr(*unwrapped)), S_OK);
                return description;
            }
        }
        ADD_FAILURE() << "no declaration";
        return description;
    }
    // Where the centre of element `id` is on the screen.
    std::pair<int, int> screenCentreOf(const std::u16string& id) {
        const std::u16string rect =
            u"document.getElementById('" + id + u"').getBoundingClientRect()";
        const int x = std::stoi(eval(u"Math.round(" + rect + u".left + " + rect + u".width / 2)"));
        const int y = std::stoi(eval(u"Math.round(" + rect + u".top + " + rect + u".height / 2)"));
        int originX = 0, originY = 0;
        gdk_window_get_origin(gtk_widget_get_window(window_), &originX, &originY);
        return {originX + x, originY + y};
    }
    void pointAt(const std::u16string& id) {
        const auto [x, y] = screenCentreOf(id);
        ASSERT_EQ(
            session_->run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)})
                .first,
            0);
    }
    // A picture of what the view shows now, as the page draws it.
    void screenshot(const std::string& name) {
        struct Shot {
            cairo_surface_t* surface = nullptr;
            bool done = false;
        } shot;
        webkit_web_view_get_snapshot(
            view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer data) {
                auto* s = static_cast<Shot*>(data);
                s->surface =
                    webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
                s->done = true;
            },
            &shot);
        ASSERT_TRUE(pumpUntil([&] { return shot.done; }));
        ASSERT_NE(shot.surface, nullptr);
        const auto path = std::filesystem::path(NORV_SCREENSHOT_DIR) / (name + ".png");
        EXPECT_EQ(cairo_surface_write_to_png(shot.surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(shot.surface);
    }

    static inline std::unique_ptr<XSession> session_;
    static inline WebKitWebContext* context_ = nullptr;

    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<web::ScriptBridge> bridge_;
    ComPtr<TestObject> nativeWindow_;
    std::vector<Variant> reloads_;
    int loads_ = 0;
};

// Both dialogs declare the same 326 x 180 window with their own title strip.
void expectDialogDeclaration(markup::WindowDescription& d) {
    std::int32_t width = 0, height = 0;
    d.get_clientWidth(&width);
    d.get_clientHeight(&height);
    EXPECT_EQ(width, 326);
    EXPECT_EQ(height, 180);
    ComPtr<markup::ITitleDescription> title;
    ASSERT_EQ(d.get_title(title.put()), S_OK);
    ASSERT_TRUE(title);
    ComPtr<markup::IElementDescription> close, minimize, caption;
    title->get_buttonClose(close.put());
    title->get_buttonMinimize(minimize.put());
    title->get_caption(caption.put());
    EXPECT_EQ(selectorOf(title.get()), "#dialogTitle");
    EXPECT_EQ(selectorOf(close.get()), "#btnClose");
    EXPECT_EQ(selectorOf(minimize.get()), "#btnMinimize");
    EXPECT_FALSE(caption);
}

TEST_F(PagesTest, TheStartupSplash) {
    open("STARTUPSPLASH.HTM");
    EXPECT_EQ(eval(u"document.title"), "Start window");
    EXPECT_EQ(eval(u"document.body.innerText.indexOf('Loading. Please wait...') >= 0"), "true");
    expectDialogDeclaration(*declaration());
    EXPECT_EQ(eval(u"['dialogTitle', 'btnClose', 'btnMinimize'].every(function(id) {"
                   u"return document.getElementById(id) !== null; })"),
              "true");
    const std::map<std::string, std::string> images{{"SmallDlg.gif", "326x180"},
                                                    {"ButtonMinimize.gif", "42x40"},
                                                    {"ButtonClose.gif", "42x40"},
                                                    {"Logo.png", "85x68"},
                                                    {"Loading.gif", "306x13"}};
    EXPECT_EQ(imageSizes(), images);
    EXPECT_EQ(eval(u"getComputedStyle(document.querySelector('.panel')).width"), "326px")
        << "the style sheet applies";
    screenshot("page-startupsplash");
    pointAt(u"btnClose");
    EXPECT_TRUE(pumpUntil([&] {
        return eval(u"getComputedStyle(document.getElementById('btnClose')).backgroundPosition") ==
               "0px -20px";
    })) << "the pointed title button shows the lower half of its image: "
        << eval(u"getComputedStyle(document.getElementById('btnClose')).backgroundPosition");
    screenshot("page-startupsplash-close-hover");
}

TEST_F(PagesTest, TheConnectionErrorPageTriesAgainWithTheSplash) {
    open("CONNECTIONERROR.HTM");
    EXPECT_EQ(eval(u"document.querySelector('h1').textContent"), "Internet connection is down.");
    expectDialogDeclaration(*declaration());
    const std::map<std::string, std::string> images{{"SmallDlg.gif", "326x180"},
                                                    {"ButtonMinimize.gif", "42x40"},
                                                    {"ButtonClose.gif", "42x40"},
                                                    {"Error.gif", "104x76"},
                                                    {"button.gif", "78x40"}};
    EXPECT_EQ(imageSizes(), images);
    screenshot("page-connectionerror");

    // A real click on "Try again" reloads with the splash, and the page itself stays.
    EXPECT_EQ(eval(u"document.getElementById('btnTryAgain').textContent"), "Try again");
    pointAt(u"btnTryAgain");
    EXPECT_TRUE(pumpUntil([&] {
        return eval(u"getComputedStyle(document.getElementById('btnTryAgain'))."
                    u"backgroundPosition") == "0px -20px";
    })) << "the pointed button shows the lower half of its image";
    screenshot("page-connectionerror-hover");
    ASSERT_EQ(session_->run({"xdotool", "click", "1"}).first, 0);
    ASSERT_TRUE(pumpUntil([&] { return !reloads_.empty(); }));
    ASSERT_EQ(reloads_.size(), 1u);
    EXPECT_EQ(reloads_[0].vt(), VT_BOOL);
    EXPECT_EQ(reloads_[0].boolVal(), VARIANT_TRUE);
    EXPECT_EQ(eval(u"location.href"), res::resourceUrl("CONNECTIONERROR.HTM"));
}

TEST_F(PagesTest, TheViewDialog) {
    open("VIEWDIALOG.HTM");
    EXPECT_EQ(eval(u"document.body.id"), "CNorvViewDialog");
    EXPECT_EQ(eval(u"document.getElementById('e_close_btn').textContent"), "Close");
    screenshot("page-viewdialog");
}

} // namespace
