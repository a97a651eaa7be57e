// display-probe: a bare GTK program with the display service, driven by the end-to-end
// tests. It opens numbered windows ("Display Probe 1", ...), each with a page window object,
// and takes commands, one a line, from the FIFO named by --commands:
//   saver N 0|1   enableScreenSaver(window N, flag)
//   power N 0|1   enablePowerOff(window N, flag)
//   flags N       prints the flag word of window N
//   close N       destroys window N
//   dialog N      opens a dialog of window N and prints its X window id
//   quit          ends the program
// Each command's result is printed ("saver 1 0 -> 0x00000000"). SIGTERM ends the program as
// a session's end would. With --application it registers as the program does (a GtkApplication
// that is not unique, platform/gtk/DesktopApplication, handed to the display service before
// the service's desktop is made), and the display service also uses its idle inhibition.
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/glib/MainLoopSource.h"
#include "platform/gtk/DesktopApplication.h"
#include "script/NativeWindowHandle.h"
#include "script/TaviDisplay.h"
#include "script/X11DisplayDesktop.h"

using namespace norv;
using script::NativeWindow;

namespace {

class PageWindow final
    : public com::ComObject<PageWindow, com::IDispatch, script::INativeWindowHandle> {
public:
    explicit PageWindow(GtkWidget* widget) : widget_(widget) {}
    void forget() { widget_ = nullptr; }

    com::HRESULT get_nativeWindow(NativeWindow* out) override {
        GdkWindow* window = widget_ ? gtk_widget_get_window(widget_) : nullptr;
        *out = window ? gdk_x11_window_get_xid(window) : 0;
        return com::S_OK;
    }
    com::HRESULT GetTypeInfoCount(std::uint32_t*) override { return com::E_NOTIMPL; }
    com::HRESULT GetTypeInfo(std::uint32_t, com::LCID, com::ITypeInfo**) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT GetIDsOfNames(const com::IID&, std::span<const com::Bstr>, com::LCID,
                               std::span<com::DISPID>) override {
        return com::E_NOTIMPL;
    }
    com::HRESULT Invoke(com::DISPID, const com::IID&, com::LCID, std::uint16_t, com::DispParams&,
                        com::Variant*, com::ExcepInfo*, std::uint32_t*) override {
        return com::E_NOTIMPL;
    }

private:
    GtkWidget* widget_;
};

struct Probe {
    int windowCount = 1;
    std::string commandPath;
    bool asApplication = false;
    std::optional<platform::gtk::DesktopApplication> application;
    GMainLoop* loop = nullptr;
    std::vector<GtkWidget*> windows;
    std::vector<GtkWidget*> dialogs;
    std::vector<com::ComPtr<PageWindow>> pages;
    com::ComPtr<script::TaviDisplay> display;
    int commandFd = -1;
    std::string pending;
    platform::glib::MainLoopSource commands;

    void say(const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    void open() {
        if (asApplication) {
            application.emplace("org.norv.DisplayProbe");
            script::X11DisplayDesktop::setProgramApplication(application->get());
        }
        display = com::makeObject<script::TaviDisplay>(script::X11DisplayDesktop::instance());
        // Plain windows, as the program's: GTK's inhibition names them all the same.
        for (int i = 1; i <= windowCount; ++i) {
            GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            const std::string title = "Display Probe " + std::to_string(i);
            gtk_window_set_title(GTK_WINDOW(window), title.c_str());
            gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
            gtk_window_move(GTK_WINDOW(window), 40 + 340 * (i - 1), 40);
            gtk_widget_show_all(window);
            windows.push_back(window);
            pages.push_back(com::makeObject<PageWindow>(window));
            NativeWindow xid = 0;
            pages.back()->get_nativeWindow(&xid);
            say("window " + std::to_string(i) + " " + std::to_string(xid));
        }
        commandFd = ::open(commandPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        commands = platform::glib::MainLoopSource::readable(commandFd, [this] {
            readCommands();
            return true;
        });
        say("ready");
    }

    void readCommands() {
        char buffer[256];
        ssize_t n;
        while ((n = ::read(commandFd, buffer, sizeof buffer)) > 0)
            pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            run(line);
        }
    }

    void run(const std::string& line) {
        std::istringstream in(line);
        std::string verb;
        int n = 0;
        int flag = 0;
        in >> verb >> n >> flag;
        if (verb == "quit") {
            quit();
            return;
        }
        if (n < 1 || n > windowCount) {
            say("bad command: " + line);
            return;
        }
        com::IDispatch* page = pages[static_cast<std::size_t>(n - 1)].get();
        const com::VARIANT_BOOL value = flag ? com::VARIANT_TRUE : com::VARIANT_FALSE;
        if (verb == "saver" || verb == "power") {
            const com::HRESULT hr = verb == "saver" ? display->enableScreenSaver(page, value)
                                                    : display->enablePowerOff(page, value);
            char text[16];
            std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
            say(line + " -> " + text);
        } else if (verb == "flags") {
            NativeWindow xid = 0;
            pages[static_cast<std::size_t>(n - 1)]->get_nativeWindow(&xid);
            say(line + " -> " + std::to_string(display->flags(xid)));
        } else if (verb == "dialog") {
            GtkWidget* dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            gtk_window_set_title(GTK_WINDOW(dialog), "Display Probe Dialog");
            gtk_window_set_transient_for(GTK_WINDOW(dialog),
                                         GTK_WINDOW(windows[static_cast<std::size_t>(n - 1)]));
            gtk_window_set_default_size(GTK_WINDOW(dialog), 200, 100);
            gtk_widget_show_all(dialog);
            dialogs.push_back(dialog);
            say(line + " -> " +
                std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(dialog))));
        } else if (verb == "close") {
            GtkWidget*& window = windows[static_cast<std::size_t>(n - 1)];
            if (window) {
                pages[static_cast<std::size_t>(n - 1)]->forget();
                gtk_widget_destroy(window);
                window = nullptr;
            }
            say(line + " -> closed");
        } else {
            say("bad command: " + line);
        }
    }

    void quit() {
        if (loop)
            g_main_loop_quit(loop);
    }

    // What the program does on its way out: the service goes with its page, and the
    // desktop gives back what is still held.
    void close() {
        commands.reset();
        display.reset();
        pages.clear();
        script::X11DisplayDesktop::shutdown();
        script::X11DisplayDesktop::setProgramApplication(nullptr);
        for (GtkWidget* dialog : dialogs)
            gtk_widget_destroy(dialog);
        dialogs.clear();
        for (GtkWidget* window : windows)
            if (window)
                gtk_widget_destroy(window);
        windows.clear();
        if (commandFd >= 0)
            ::close(commandFd);
        say("closed");
    }
};

} // namespace

int main(int argc, char** argv) {
    Probe probe;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--application")
            probe.asApplication = true;
        else if (arg == "--windows" && i + 1 < argc)
            probe.windowCount = std::stoi(argv[++i]);
        else if (arg == "--commands" && i + 1 < argc)
            probe.commandPath = argv[++i];
    }
    gdk_set_allowed_backends("x11");
    g_unix_signal_add(
        SIGTERM,
        [](gpointer self) -> gboolean {
            static_cast<Probe*>(self)->quit();
            return G_SOURCE_CONTINUE;
        },
        &probe);

    gtk_init(&argc, &argv);
    probe.loop = g_main_loop_new(nullptr, FALSE);
    probe.open();
    g_main_loop_run(probe.loop);
    probe.close();
    probe.application.reset();
    g_main_loop_unref(probe.loop);
    return 0;
}
