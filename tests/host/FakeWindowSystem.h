#pragma once
// A window system in memory for the window model's tests: a titled frame of 1, 20, 1, 5
// pixels (left, top, right, bottom), a border of 1, monitors as given, and the pointer as
// the test puts it.

#include <algorithm>
#include <ostream>
#include <vector>

#include "platform/gtk/WindowSystem.h"

namespace norv::platform::gtk {
inline void PrintTo(const Rect& r, std::ostream* out) {
    *out << "(" << r.left << "," << r.top << " - " << r.right << "," << r.bottom << ")";
}
inline void PrintTo(const Point& p, std::ostream* out) {
    *out << "(" << p.x << "," << p.y << ")";
}
} // namespace norv::platform::gtk

namespace norv::test {

using namespace platform::gtk;

class FakeWindowSystem final : public WindowSystem {
public:
    explicit FakeWindowSystem(std::vector<MonitorArea> monitors = {{{0, 0, 1280, 800},
                                                                    {0, 0, 1280, 760}}})
        : monitors_(std::move(monitors)) {}

    // Test controls.
    Rect client{100, 100, 500, 400};
    WindowLook look;
    Point pointer;
    bool leftButton = true;
    bool zoomed = false;
    bool minimized = false;
    int maximizeCalls = 0;
    int coverCalls = 0;
    int restoreCalls = 0;
    int moveCalls = 0; // placements that name a position
    void motion(int x, int y, bool left = true) {
        pointer = {x, y};
        if (events_)
            events_->onPointerMotion(pointer, left);
    }
    void release() {
        if (events_)
            events_->onLeftButtonUp();
    }
    void activate() {
        if (events_)
            events_->onActivated();
    }
    // Another window takes the pointer grab.
    void loseCapture() { capture_ = false; }

    void setEvents(WindowEvents* events) override { events_ = events; }
    void applyLook(const WindowLook& next) override {
        Rect outer = windowRect();
        look = next;
        client = inner(outer);
    }
    FrameExtents frameExtentsFor(const WindowLook& l) const override {
        if (!l.bordered)
            return {};
        return l.titled ? FrameExtents{1, 20, 1, 5} : FrameExtents{1, 1, 1, 1};
    }
    Rect windowRect() const override {
        FrameExtents e = frameExtentsFor(look);
        return {client.left - e.left, client.top - e.top, client.right + e.right,
                client.bottom + e.bottom};
    }
    Rect clientRect() const override { return client; }
    void setWindowRect(const Rect& outer) override {
        ++moveCalls;
        client = inner(outer);
    }
    void moveWindowTo(Point p) override {
        ++moveCalls;
        Rect outer = windowRect();
        client = inner(outer.offsetBy(p.x - outer.left, p.y - outer.top));
    }
    void resizeWindow(int width, int height) override {
        Rect outer = windowRect();
        client = inner({outer.left, outer.top, outer.left + width, outer.top + height});
    }
    Rect normalPlacement() const override { return zoomed ? normal_ : windowRect(); }
    bool isZoomed() const override { return zoomed && !minimized; }
    bool isMinimized() const override { return minimized; }
    void maximize() override {
        ++maximizeCalls;
        zoom();
    }
    void coverMonitor(const Rect& monitor) override {
        ++coverCalls;
        zoom();
        client = monitor;
    }
    void minimize() override { minimized = true; }
    void restore() override {
        ++restoreCalls;
        if (std::exchange(minimized, false))
            return;
        if (std::exchange(zoomed, false))
            client = inner(normal_);
    }
    std::optional<MonitorArea> monitorNearest(Point p) const override {
        auto distance = [&](const MonitorArea& m) {
            int dx = std::max({m.monitor.left - p.x, 0, p.x - m.monitor.right + 1});
            int dy = std::max({m.monitor.top - p.y, 0, p.y - m.monitor.bottom + 1});
            return dx * dx + dy * dy;
        };
        auto it = std::min_element(monitors_.begin(), monitors_.end(),
                                   [&](auto& a, auto& b) { return distance(a) < distance(b); });
        return *it;
    }
    std::optional<MonitorArea> monitorOfWindow() const override {
        Rect w = windowRect();
        return monitorNearest({(w.left + w.right) / 2, (w.top + w.bottom) / 2});
    }
    bool isLeftButtonDown() const override { return leftButton; }
    Point pointerPosition() const override { return pointer; }
    bool hasCapture() const override { return capture_; }
    void setCapture() override { capture_ = true; }
    void releaseCapture() override { capture_ = false; }
    void setTitle(std::string_view t) override { title_ = t; }
    std::string title() const override { return title_; }

private:
    Rect inner(const Rect& outer) const {
        FrameExtents e = frameExtentsFor(look);
        return {outer.left + e.left, outer.top + e.top, outer.right - e.right,
                outer.bottom - e.bottom};
    }
    void zoom() {
        if (!zoomed)
            normal_ = windowRect();
        zoomed = true;
    }

    std::vector<MonitorArea> monitors_;
    WindowEvents* events_ = nullptr;
    bool capture_ = false;
    Rect normal_;
    std::string title_;
};

} // namespace norv::test
