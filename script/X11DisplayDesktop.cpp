#include "script/X11DisplayDesktop.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/glib/GObjectRef.h"

namespace norv::script {

namespace {
constexpr const char* kReason = "The page in front keeps the display on";

std::shared_ptr<X11DisplayDesktop>& shared() {
    static std::shared_ptr<X11DisplayDesktop> desktop;
    return desktop;
}

glib::GObjectRef<GtkApplication>& programApplication() {
    static glib::GObjectRef<GtkApplication> application;
    return application;
}

class TimerHandle final : public DisplayDesktop::Handle {
public:
    explicit TimerHandle(platform::glib::MainLoopSource source) : source_(std::move(source)) {}

private:
    platform::glib::MainLoopSource source_;
};

} // namespace

// The parts of one idle inhibition; close() ends them while the handle still exists.
struct X11DisplayDesktop::Inhibition {
    std::unique_ptr<platform::glib::ScreenSaverInhibitor::Hold> screenSaver;
    std::unique_ptr<platform::gtk::ApplicationIdleInhibitor::Hold> application;
};

namespace {
class InhibitionHandle final : public DisplayDesktop::Handle {
public:
    template <class T>
    explicit InhibitionHandle(std::shared_ptr<T> parts) : parts_(std::move(parts)) {}

private:
    std::shared_ptr<void> parts_;
};
} // namespace

std::shared_ptr<X11DisplayDesktop> X11DisplayDesktop::instance() {
    auto& desktop = shared();
    if (!desktop) {
        desktop = std::make_shared<X11DisplayDesktop>();
        if (auto& application = programApplication())
            desktop->setApplication(application.get());
    }
    return desktop;
}

void X11DisplayDesktop::setProgramApplication(GtkApplication* application) {
    programApplication() = glib::GObjectRef<GtkApplication>::retain(application);
    if (auto& desktop = shared())
        desktop->setApplication(application);
}

void X11DisplayDesktop::shutdown() {
    if (auto& desktop = shared())
        desktop->close();
}

X11DisplayDesktop::X11DisplayDesktop(std::string application, const std::string& displayName)
    : connection_(displayName), control_(connection_), foreground_(connection_),
      inhibitor_(std::move(application)) {
    if (connection_.isOpen())
        readable_ = platform::glib::MainLoopSource::readable(connection_.fd(), [this] {
            processEvents();
            return true;
        });
}

X11DisplayDesktop::~X11DisplayDesktop() {
    close();
}

void X11DisplayDesktop::setApplication(GtkApplication* application) {
    applicationInhibitor_.reset();
    if (application)
        applicationInhibitor_ =
            std::make_unique<platform::gtk::ApplicationIdleInhibitor>(application);
}

void X11DisplayDesktop::close() {
    if (closed_)
        return;
    closed_ = true;
    for (auto& weak : inhibitions_) {
        if (auto parts = weak.lock()) {
            parts->application.reset();
            parts->screenSaver.reset();
        }
    }
    inhibitions_.clear();
    inhibitor_.releaseAll();
    applicationInhibitor_.reset();
    readable_.reset();
    pending_.reset();
}

std::optional<std::uint32_t> X11DisplayDesktop::timeout(DisplayKind kind) {
    if (!usable())
        return std::nullopt;
    auto value = kind == DisplayKind::screenSaver ? control_.screenSaverTimeout()
                                                  : control_.powerOffTimeout();
    scheduleEvents();
    return value;
}

bool X11DisplayDesktop::rewriteTimeout(DisplayKind kind) {
    if (!usable())
        return false;
    const bool ok = kind == DisplayKind::screenSaver ? control_.rewriteScreenSaverTimeout()
                                                     : control_.rewritePowerOffTimeouts();
    scheduleEvents();
    return ok;
}

void X11DisplayDesktop::resetIdle() {
    if (usable())
        control_.resetIdle();
}

bool X11DisplayDesktop::isInFront(NativeWindow window) {
    if (!usable())
        return false;
    const bool front = foreground_.isInFront(static_cast<platform::x11::XWindow>(window));
    scheduleEvents();
    return front;
}

std::unique_ptr<DisplayDesktop::Handle>
X11DisplayDesktop::startTimer(DisplayKind kind, std::chrono::milliseconds interval,
                              std::function<void()> tick) {
    g_debug("display: %s timer %lld ms",
            kind == DisplayKind::screenSaver ? "screen saver" : "power-off",
            static_cast<long long>(interval.count()));
    if (closed_)
        return std::make_unique<TimerHandle>(platform::glib::MainLoopSource());
    const char* name = kind == DisplayKind::screenSaver ? "screen saver" : "power-off";
    return std::make_unique<TimerHandle>(
        platform::glib::MainLoopSource::timeout(interval, [tick = std::move(tick), name] {
            tick();
            g_debug("display: %s tick", name);
            return true;
        }));
}

std::unique_ptr<DisplayDesktop::Handle> X11DisplayDesktop::inhibitIdle(NativeWindow window) {
    if (closed_)
        return nullptr;
    auto parts = std::make_shared<Inhibition>();
    parts->screenSaver = inhibitor_.inhibit(kReason);
    if (applicationInhibitor_)
        parts->application =
            applicationInhibitor_->inhibit(static_cast<unsigned long>(window), kReason);
    inhibitions_.erase(std::remove_if(inhibitions_.begin(), inhibitions_.end(),
                                      [](const auto& weak) { return weak.expired(); }),
                       inhibitions_.end());
    inhibitions_.push_back(parts);
    return std::make_unique<InhibitionHandle>(std::move(parts));
}

bool X11DisplayDesktop::watchWindow(NativeWindow window) {
    if (!usable())
        return false;
    int& count = watched_[window];
    if (count == 0 && !foreground_.watch(static_cast<platform::x11::XWindow>(window))) {
        watched_.erase(window);
        return false;
    }
    ++count;
    return true;
}

void X11DisplayDesktop::unwatchWindow(NativeWindow window) {
    auto found = watched_.find(window);
    if (found == watched_.end())
        return;
    if (--found->second > 0)
        return;
    watched_.erase(found);
    if (usable())
        foreground_.unwatch(static_cast<platform::x11::XWindow>(window));
}

void X11DisplayDesktop::addObserver(Observer* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void X11DisplayDesktop::removeObserver(Observer* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void X11DisplayDesktop::scheduleEvents() {
    // Events read while waiting for a reply sit in Xlib's queue, where the socket watch
    // does not see them.
    if (pending_.active() || !usable() || !foreground_.hasQueuedEvents())
        return;
    pending_ = platform::glib::MainLoopSource::idle([this] {
        processEvents();
        return false;
    });
}

void X11DisplayDesktop::processEvents() {
    if (!usable())
        return;
    // Observers may come and go while being told.
    const auto tell = [this](auto&& call) {
        const std::vector<Observer*> observers = observers_;
        for (Observer* observer : observers)
            if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
                call(*observer);
    };
    foreground_.processEvents([&] { tell([](Observer& o) { o.foregroundChanged(); }); },
                              [&](platform::x11::XWindow window) {
                                  watched_.erase(window);
                                  tell([window](Observer& o) { o.windowDestroyed(window); });
                              });
}

} // namespace norv::script
