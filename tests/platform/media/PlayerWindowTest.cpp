// The control's video in a real window: a private X server with a window manager, a
// GtkWindow holding the control's widget, and screenshots of what a user would see.

#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <array>
#include <cstdlib>

#include "platform/com/ClassTable.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

using namespace norv::test;

namespace {

struct Rgb {
    int r, g, b;
};

// The colour bars of the SMPTE pattern's upper part, left to right, by which of red,
// green and blue is lit.
constexpr std::array<Rgb, 7> kBars = {
    {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}}};

bool near(const Rgb& c, const Rgb& bar) {
    auto channel = [](int value, int lit) {
        return lit ? value > 150 : value < 64;
    };
    return channel(c.r, bar.r) && channel(c.g, bar.g) && channel(c.b, bar.b);
}

class Screenshot {
public:
    explicit Screenshot(const std::filesystem::path& png) {
        GError* error = nullptr;
        pixbuf_ = gdk_pixbuf_new_from_file(png.c_str(), &error);
        if (error)
            g_error_free(error);
    }
    ~Screenshot() {
        if (pixbuf_)
            g_object_unref(pixbuf_);
    }
    bool valid() const { return pixbuf_ != nullptr; }
    Rgb at(int x, int y) const {
        int channels = gdk_pixbuf_get_n_channels(pixbuf_);
        const guchar* p =
            gdk_pixbuf_read_pixels(pixbuf_) + y * gdk_pixbuf_get_rowstride(pixbuf_) + x * channels;
        return {p[0], p[1], p[2]};
    }
    // The bar colours met along row y between x0 and x1, each run counted once.
    std::vector<int> barsAlong(int y, int x0, int x1) const {
        std::vector<int> seen;
        for (int x = x0; x < x1; ++x) {
            Rgb c = at(x, y);
            for (int i = 0; i < static_cast<int>(kBars.size()); ++i)
                if (near(c, kBars[static_cast<std::size_t>(i)]) &&
                    (seen.empty() || seen.back() != i))
                    seen.push_back(i);
        }
        return seen;
    }

private:
    GdkPixbuf* pixbuf_ = nullptr;
};

class PlayerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [name, value] : session.env())
            g_setenv(name.c_str(), value.c_str(), TRUE);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
        initMedia();
    }
    XSession session{800, 600};
    TempDir dir;
};

TEST_F(PlayerWindowTest, ShowsTheVideoPlaysFromItsTransportBarAndHidesWhenInvisible) {
    auto file = dir.path() / "clip.webm";
    makeClip(file);
    TestPlayer p;
    auto view = p.player.as<IPlayerView>();
    ASSERT_TRUE(view);
    GtkWidget* widget = nullptr;
    ASSERT_EQ(view->GetWidget(&widget), S_OK);
    ASSERT_TRUE(widget);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "player window");
    gtk_window_set_default_size(GTK_WINDOW(window), 480, 400);
    gtk_container_add(GTK_CONTAINER(window), widget);
    gtk_widget_show_all(window);

    // Not started: the first frame is shown once the medium is ready.
    p.settings()->put_autoStart(VARIANT_FALSE);
    p.setUrl("file://" + file.string());
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psReady; }));

    auto shot = dir.path() / "ready.png";
    int x0 = 0, y0 = 0;
    GtkAllocation video{}, root{};
    auto look = [&] {
        if (!session.screenshot(shot))
            return false;
        gdk_window_get_origin(gtk_widget_get_window(window), &x0, &y0);
        gtk_widget_get_allocation(widget, &root);
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        gtk_widget_get_allocation(GTK_WIDGET(children->data), &video);
        g_list_free(children);
        Screenshot s(shot);
        if (!s.valid())
            return false;
        std::vector<int> bars =
            s.barsAlong(y0 + video.y + video.height / 4, x0 + video.x, x0 + video.x + video.width);
        return bars == std::vector<int>{0, 1, 2, 3, 4, 5, 6};
    };
    bool shown = pumpUntil(look, 20s);
    auto kept = std::filesystem::path(::testing::TempDir()) / "player-ready.png";
    std::filesystem::copy_file(shot, kept, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(shown) << "the colour bars do not show; see " << kept;
    // The transport bar lies under the video, inside the control's widget.
    EXPECT_GT(root.height, video.height + 10);

    // A click on the transport bar's play button plays; at the end the last frame stays.
    GtkWidget* bar = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next)
        if (g_strcmp0(gtk_widget_get_name(GTK_WIDGET(c->data)), "transport-bar") == 0)
            bar = GTK_WIDGET(c->data);
    g_list_free(children);
    ASSERT_TRUE(bar);
    children = gtk_container_get_children(GTK_CONTAINER(bar));
    GtkWidget* playButton = GTK_WIDGET(children->data);
    g_list_free(children);
    int bx = 0, by = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(playButton, window, 0, 0, &bx, &by));
    GtkAllocation button{};
    gtk_widget_get_allocation(playButton, &button);
    std::string x = std::to_string(x0 + bx + button.width / 2);
    std::string y = std::to_string(y0 + by + button.height / 2);
    ASSERT_EQ(session.run({"xdotool", "mousemove", "--sync", x, y, "click", "1"}).first, 0);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    ASSERT_TRUE(pumpUntil(look, 10s));

    // Invisible: nothing of the control shows.
    ASSERT_EQ(p.player->put_uiMode(Bstr(u"invisible")), S_OK);
    auto hidden = dir.path() / "hidden.png";
    bool gone = pumpUntil(
        [&] {
            if (!session.screenshot(hidden))
                return false;
            Screenshot s(hidden);
            // The window's own light background is all that is left.
            return s.valid() && s.barsAlong(y0 + video.y + video.height / 4, x0 + video.x,
                                            x0 + video.x + video.width)
                                        .size() <= 1;
        },
        10s);
    kept = std::filesystem::path(::testing::TempDir()) / "player-hidden.png";
    std::filesystem::copy_file(hidden, kept, std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(gone) << "the control still shows; see " << kept;
    gtk_widget_destroy(window);
}

} // namespace
