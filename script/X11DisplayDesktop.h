#pragma once
// X11DisplayDesktop: the display service's desktop on X11. The time-outs are the X
// server's screen saver and DPMS settings; the idle countdown is restarted with
// XResetScreenSaver; the window in front is the window manager's _NET_ACTIVE_WINDOW; the
// desktop's idle inhibition is org.freedesktop.ScreenSaver on the session bus and, when the
// program runs as a GtkApplication, GTK's idle inhibition (the GNOME session manager).
// No session bus or no such service: only the X11 part works, silently.
//
// Each started timer is logged at debug level ("display: screen saver timer 480000 ms",
// "display: power-off timer 10000 ms"), and so is each tick once it has acted ("display:
// screen saver tick"); G_MESSAGES_DEBUG=norv-view shows them.
//
// One desktop serves every display service of the program (instance()). Before the
// program exits, also when it ends on SIGTERM, shutdown() gives back what is still held;
// the user's settings are never left changed (each rewrite puts back what it read before
// returning). UI thread only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/glib/MainLoopSource.h"
#include "platform/glib/ScreenSaverInhibitor.h"
#include "platform/gtk/ApplicationIdleInhibitor.h"
#include "platform/x11/ForegroundWindow.h"
#include "platform/x11/ScreenSaverControl.h"
#include "platform/x11/X11Connection.h"
#include "script/DisplayDesktop.h"

typedef struct _GtkApplication GtkApplication;

namespace norv::script {

class X11DisplayDesktop final : public DisplayDesktop {
public:
    // The program's desktop, made on first use on $DISPLAY.
    static std::shared_ptr<X11DisplayDesktop> instance();
    // Closes the program's desktop (see close) if it was made.
    static void shutdown();
    // The GtkApplication the program runs as (null: none any more). The program's desktop
    // takes its inhibitions through it too, whether it is made before or after this call.
    static void setProgramApplication(GtkApplication* application);

    // `application` names the program towards the desktop's inhibition services.
    explicit X11DisplayDesktop(std::string application = "Norv View",
                               const std::string& displayName = {});
    ~X11DisplayDesktop() override;
    X11DisplayDesktop(const X11DisplayDesktop&) = delete;
    X11DisplayDesktop& operator=(const X11DisplayDesktop&) = delete;

    // Inhibitions taken from now on also go through `application`'s idle inhibition.
    void setApplication(GtkApplication* application);

    // Gives back every inhibition still held, waiting a bounded time for the desktop to
    // receive it, and stops acting: afterwards nothing is read, written or held.
    void close();

    // DisplayDesktop
    std::optional<std::uint32_t> timeout(DisplayKind kind) override;
    bool rewriteTimeout(DisplayKind kind) override;
    void resetIdle() override;
    bool isInFront(NativeWindow window) override;
    std::unique_ptr<Handle> startTimer(DisplayKind kind, std::chrono::milliseconds interval,
                                       std::function<void()> tick) override;
    std::unique_ptr<Handle> inhibitIdle(NativeWindow window) override;
    bool watchWindow(NativeWindow window) override;
    void unwatchWindow(NativeWindow window) override;
    void addObserver(Observer* observer) override;
    void removeObserver(Observer* observer) override;

private:
    bool usable() const { return !closed_ && connection_.isOpen(); }
    void scheduleEvents();
    void processEvents();

    platform::x11::X11Connection connection_;
    platform::x11::ScreenSaverControl control_;
    platform::x11::ForegroundWindow foreground_;
    platform::glib::ScreenSaverInhibitor inhibitor_;
    std::unique_ptr<platform::gtk::ApplicationIdleInhibitor> applicationInhibitor_;
    platform::glib::MainLoopSource readable_;
    platform::glib::MainLoopSource pending_;
    std::vector<Observer*> observers_;
    std::map<NativeWindow, int> watched_;
    // Inhibitions still held, so that close can end them.
    struct Inhibition;
    std::vector<std::weak_ptr<Inhibition>> inhibitions_;
    bool closed_ = false;
};

} // namespace norv::script
