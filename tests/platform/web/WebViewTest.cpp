// The browser adapters in real WebKit views under a private X session: a view made in a
// context, the pages of a resource scheme, the user agent and the settings of a view.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/web/ResourceScheme.h"
#include "platform/web/WebContext.h"
#include "platform/web/WebView.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

using namespace std::chrono_literals;
using namespace norv::web;
using norv::test::TempDir;
using norv::test::XSession;

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

class WebViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = std::make_unique<XSession>();
        for (const auto& [name, value] : session_->env())
            setenv(name.c_str(), value.c_str(), 1);
        gtk_init(nullptr, nullptr);
    }
    static void TearDownTestSuite() { session_.reset(); }

    void SetUp() override {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
    }
    void TearDown() override {
        if (window_)
            gtk_widget_destroy(window_);
    }

    // A view of `context` shown in the test's window.
    WebView show(const WebContext& context) {
        WebView view(context);
        gtk_container_add(GTK_CONTAINER(window_), view.widget());
        gtk_widget_show_all(window_);
        g_signal_connect(view.get(), "load-failed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error,
                                        gpointer self) -> gboolean {
                             static_cast<WebViewTest*>(self)->failure_ = error->message;
                             return FALSE;
                         }),
                         this);
        return view;
    }

    // Waits until the view's page has given itself a title, and returns it.
    static std::string titleOf(const WebView& view, const std::string& previous = {}) {
        std::string title;
        pumpUntil([&] {
            const char* t = webkit_web_view_get_title(view.get());
            title = t ? t : "";
            return !title.empty() && title != previous;
        });
        return title;
    }

    static inline std::unique_ptr<XSession> session_;
    GtkWidget* window_ = nullptr;
    std::string failure_;
};

TEST_F(WebViewTest, ResourceSchemeServesWhatItsLookupAnswers) {
    TempDir data;
    const WebContext context =
        WebContext::withDirectories(data.path() / "data", data.path() / "cache");
    std::string asked;
    registerResourceScheme(context.get(), "app", [&](std::string_view uri) {
        asked = uri;
        std::optional<SchemeResource> page;
        if (uri == "app:///PAGE.HTM") {
            // Text is sent as UTF-8: the title arrives as written.
            page = SchemeResource{"<!DOCTYPE html><script>document.title = "
                                  "'Gr\xC3\xBC\xC3\x9F"
                                  "e ' + location.protocol;</script>",
                                  "text/html"};
        }
        return page;
    });
    // A second registration of the scheme changes nothing.
    registerResourceScheme(context.get(), "app", [](std::string_view) {
        return std::optional<SchemeResource>(SchemeResource{"<title>second</title>", "text/html"});
    });

    const WebView view = show(context);
    view.loadUri("app:///PAGE.HTM");
    EXPECT_EQ(titleOf(view), "Gr\xC3\xBC\xC3\x9F"
                             "e app:");
    EXPECT_EQ(asked, "app:///PAGE.HTM");

    view.loadUri("app:///MISSING.HTM");
    ASSERT_TRUE(pumpUntil([&] { return !failure_.empty(); }));
    EXPECT_EQ(failure_, "The resource app:///MISSING.HTM does not exist.");
}

TEST_F(WebViewTest, UserAgentReachesThePageAndEmptyGivesWebKitsOwnBack) {
    const WebContext context = WebContext::defaultContext();
    EXPECT_EQ(context.get(), webkit_web_context_get_default());
    const WebView view = show(context);
    const std::string own = WebView::defaultUserAgent();
    ASSERT_NE(own.find("AppleWebKit"), std::string::npos) << own;
    EXPECT_EQ(view.userAgent(), own);

    view.setUserAgent("Probe/1.0 (Test)");
    EXPECT_EQ(view.userAgent(), "Probe/1.0 (Test)");
    const std::string page =
        "data:text/html,<script>document.title = navigator.userAgent;</script>";
    view.loadUri(page);
    EXPECT_EQ(titleOf(view), "Probe/1.0 (Test)");

    view.setUserAgent("");
    EXPECT_EQ(view.userAgent(), own);
    view.loadUri(page + "<!-- again -->");
    EXPECT_EQ(titleOf(view, "Probe/1.0 (Test)"), own);
}

TEST_F(WebViewTest, SettingsAreSetByNameOnlyWhenTheyAreBooleans) {
    const WebView view = show(WebContext::defaultContext());
    WebKitSettings* settings = webkit_web_view_get_settings(view.get());
    EXPECT_TRUE(view.setSetting("enable-developer-extras", true));
    EXPECT_TRUE(webkit_settings_get_enable_developer_extras(settings));
    EXPECT_TRUE(view.setSetting("enable-developer-extras", false));
    EXPECT_FALSE(webkit_settings_get_enable_developer_extras(settings));
    const guint32 size = webkit_settings_get_default_font_size(settings);
    EXPECT_FALSE(view.setSetting("default-font-size", true)); // a number, not a boolean
    EXPECT_EQ(webkit_settings_get_default_font_size(settings), size);
    EXPECT_FALSE(view.setSetting("no-such-setting", true));
}

TEST_F(WebViewTest, HandleKeepsTheViewAfterItsWindowDestroyedIt) {
    std::optional<WebView> view = show(WebContext::defaultContext());
    WebKitWebView* raw = view->get();
    // Object data goes when the object is freed (weak pointers already when it is
    // destroyed, which its window does to it).
    bool freed = false;
    g_object_set_data_full(G_OBJECT(raw), "norv-test-freed", &freed,
                           [](gpointer flag) { *static_cast<bool*>(flag) = true; });
    gtk_widget_destroy(std::exchange(window_, nullptr));
    ASSERT_FALSE(freed);
    EXPECT_TRUE(WEBKIT_IS_WEB_VIEW(raw));
    {
        const WebView other = WebView::of(raw);
        EXPECT_EQ(other.get(), raw);
    }
    EXPECT_FALSE(freed) << "a second handle let go of the first one's reference";
    view.reset();
    EXPECT_TRUE(freed) << "the last handle did not free the view";
}

} // namespace
