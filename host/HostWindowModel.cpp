#include "host/HostWindowModel.h"

#include "platform/com/Exceptions.h"

namespace norv::host {

using platform::gtk::Point;
using platform::gtk::Rect;
using platform::gtk::WindowSystem;
using namespace typelib;

namespace {

constexpr const char16_t* kInvalidButtons = u"Invalid state of the mouse or keyboard buttons.";
constexpr const char16_t* kInResizeMode = u"The window in the resize mode now.";
constexpr const char16_t* kInMoveMode = u"The window in the move mode now.";
constexpr const char16_t* kInvalidGravity = u"Invalid window gravity flags set.";
constexpr const char16_t* kVerySmall = u"The size of client area is very small.";
constexpr const char16_t* kSmallClient =
    u"The client area is small. Permitted size of not less than 50x50.";
constexpr const char16_t* kScreenMode = u"The window is screen mode now.";
constexpr const char16_t* kOutOfRange =
    u"The window area is out of range. Permitted size not less than desktop rectangle.";

// How far inside the work area the grabbed point of a window being dragged stays.
constexpr int kDragInset = 5;

[[noreturn]] void fail(const char16_t* message) {
    throw com::DispatchException(message);
}

enum class Operation { none, resized, moved };

// The drag under way; one per process, as only one window holds the pointer grab.
struct DragTracking {
    // Where the pointer was when the drag began (screen coordinates).
    Point pressed;
    // The drag's starting point, taken at its first move: the pointer where the drag
    // began, in screen coordinates when resizing, client coordinates when moving.
    // Nothing while no drag has moved yet.
    std::optional<Point> start;
    Operation lastOperation = Operation::none;
    Rect startWindow;
    int frameWidth = 0;
    int frameHeight = 0;
    int startClientWidth = 0;
    int startClientHeight = 0;
    bool resizeMoves = false; // the drag moves the left or top edge
    ResizeLimits limits;
    Point lastDelta;
    // The monitor whose work area was read last, and that work area (inset).
    Rect monitor;
    Rect workArea;
};

DragTracking& tracking() {
    static DragTracking state;
    return state;
}

} // namespace

HostWindowModel::~HostWindowModel() {
    HostWindowModel::detach();
}

void HostWindowModel::attach(WindowSystem& window) {
    WindowStyleModel::attach(window);
    window.setEvents(this);
}

void HostWindowModel::detach() {
    WindowSystem* w = window();
    if (!w)
        return;
    w->setEvents(nullptr);
    if (moving_ || resizing_) {
        tracking().start.reset();
        tracking().lastOperation = Operation::none;
    }
    moving_ = resizing_ = false;
    gravity_ = 0;
    if (w->hasCapture())
        w->releaseCapture();
    WindowStyleModel::detach();
}

void HostWindowModel::setType(TaviWindowTypes type) {
    bool wasMaximized = window() && window()->isZoomed();
    TaviWindowTypes old = wtUnknown;
    try {
        old = getType();
    } catch (const com::FrameworkException&) {
    }
    WindowStyleModel::setType(type);
    cachedType_ = type;
    if (wasMaximized && old != wtScreen && type != wtScreen)
        maximize();
}

TaviWindowTypes HostWindowModel::getType() {
    if (cachedType_ == wtUnknown)
        cachedType_ = WindowStyleModel::getType();
    return cachedType_;
}

void HostWindowModel::setResizable(bool flag) {
    if (!(window() && window()->isZoomed()))
        WindowStyleModel::setResizable(flag);
    resizableBeforeMaximize_ = flag;
}

bool HostWindowModel::getResizable() {
    if (window() && window()->isZoomed())
        return resizableBeforeMaximize_;
    return frameKind() == FrameKind::sizable;
}

void HostWindowModel::endMoveSilently() {
    tracking().start.reset();
    moving_ = false;
    if (window()->hasCapture())
        window()->releaseCapture();
}

void HostWindowModel::endResizeSilently() {
    tracking().start.reset();
    resizing_ = false;
    gravity_ = 0;
    if (window()->hasCapture())
        window()->releaseCapture();
}

void HostWindowModel::beginMove() {
    WindowSystem& w = live();
    if (!w.isLeftButtonDown())
        fail(kInvalidButtons);
    if (resizing_) {
        if (w.hasCapture())
            fail(kInResizeMode);
        endResizeSilently();
    }
    moving_ = true;
    // A new drag: what an aborted one did is no business of its end.
    tracking().lastOperation = Operation::none;
    tracking().pressed = w.pointerPosition();
    w.setCapture();
}

void HostWindowModel::abortMove() {
    tracking().start.reset();
    tracking().lastOperation = Operation::none;
    moving_ = false;
    if (window() && window()->hasCapture())
        window()->releaseCapture();
}

void HostWindowModel::beginResizing(std::int32_t minWidth, std::int32_t minHeight,
                                    std::int32_t maxWidth, std::int32_t maxHeight,
                                    std::int32_t edges) {
    WindowSystem& w = live();
    if (!w.isLeftButtonDown())
        fail(kInvalidButtons);
    if (moving_) {
        if (w.hasCapture())
            fail(kInMoveMode);
        endMoveSilently();
    }
    constexpr std::int32_t horizontal = gravity::left | gravity::right;
    constexpr std::int32_t vertical = gravity::top | gravity::bottom;
    if ((edges & horizontal) == horizontal || (edges & vertical) == vertical)
        fail(kInvalidGravity);
    if (minWidth < 1 && minHeight < 1) {
        auto [width, height] = hooks().declaredClientSize();
        minWidth = width == -1 ? 100 : width;
        minHeight = height == -1 ? 30 : height;
    }
    if (!(minWidth > 99 && minHeight > 29))
        fail(kVerySmall);
    maxWidth = maxWidth < 1 ? 0 : maxWidth;
    maxHeight = maxHeight < 1 ? 0 : maxHeight;
    if ((maxWidth != 0 && maxWidth <= minWidth) || (maxHeight != 0 && maxHeight <= minHeight))
        throw com::OleException(com::E_INVALIDARG);
    resizeLimits_ = ResizeLimits{minWidth, minHeight, maxWidth, maxHeight};
    gravity_ = edges;
    resizing_ = true;
    tracking().lastOperation = Operation::none;
    tracking().pressed = w.pointerPosition();
    w.setCapture();
}

void HostWindowModel::abortResizing() {
    tracking().start.reset();
    tracking().lastOperation = Operation::none;
    resizing_ = false;
    gravity_ = 0;
    if (window() && window()->hasCapture())
        window()->releaseCapture();
}

void HostWindowModel::restoreFromMaximized() {
    live().restore();
    WindowStyleModel::setResizable(resizableBeforeMaximize_);
    resizableBeforeMaximize_ = false;
}

void HostWindowModel::resizeTo(std::int32_t width, std::int32_t height) {
    if (width < 50 || height < 50)
        fail(kSmallClient);
    if (getType() == wtScreen)
        fail(kScreenMode);
    if (live().isZoomed())
        restoreFromMaximized();
    setClientSize(width, height);
}

void HostWindowModel::resizeBy(std::int32_t dx, std::int32_t dy) {
    Rect client = live().clientRect();
    resizeTo(client.width() + dx, client.height() + dy);
}

void HostWindowModel::moveTo(std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0)
        fail(kOutOfRange);
    if (getType() == wtScreen)
        fail(kScreenMode);
    Point corner = clampToWorkArea({x, y}, 0, false, true);
    if (live().isZoomed())
        restoreFromMaximized();
    live().moveWindowTo(corner);
}

void HostWindowModel::moveBy(std::int32_t dx, std::int32_t dy) {
    Rect outer = live().windowRect();
    moveTo(outer.left + dx, outer.top + dy);
}

void HostWindowModel::maximize() {
    TaviWindowTypes type = getType();
    if (type == wtScreen)
        fail(kScreenMode);
    live().maximize();
    if ((type == wtNormal || type == wtUtility) && hasMaximizeBox())
        return;
    if (!resizableBeforeMaximize_)
        resizableBeforeMaximize_ = frameKind() == FrameKind::sizable;
    WindowStyleModel::setResizable(false);
    placeOnWorkArea();
}

void HostWindowModel::placeOnWorkArea() {
    auto area = live().monitorOfWindow();
    if (!area)
        throw com::OleException(com::E_FAIL);
    live().setWindowRect(area->workArea);
}

void HostWindowModel::minimize() {
    if (!isApplicationWindow())
        throw com::OleException(com::E_ACCESSDENIED);
    live().minimize();
}

Point HostWindowModel::clampToWorkArea(Point point, int inset, bool fromClient, bool resetCache) {
    Point screen = point;
    if (fromClient) {
        Rect client = live().clientRect();
        screen = {point.x + client.left, point.y + client.top};
    }
    DragTracking& t = tracking();
    if (resetCache)
        t.monitor = {};
    if (!t.monitor.contains(screen)) {
        auto area = live().monitorNearest(screen);
        if (!area)
            return point;
        t.monitor = area->monitor;
        const Rect& w = area->workArea;
        t.workArea = {w.left + inset, w.top + inset, w.right - inset, w.bottom - inset};
    }
    const Rect& a = t.workArea;
    if (screen.x < a.left)
        point.x += a.left - screen.x;
    else if (screen.x > a.right)
        point.x -= screen.x - a.right;
    if (screen.y < a.top)
        point.y += a.top - screen.y;
    else if (screen.y > a.bottom)
        point.y -= screen.y - a.bottom;
    return point;
}

void HostWindowModel::onPointerMotion(Point cursor, bool leftButton) {
    WindowSystem* w = window();
    // A window that is not dragged has nothing to end (and must not touch the drag of
    // another window).
    if (!w || (!moving_ && !resizing_ && !w->hasCapture()))
        return;
    if (moving_ && resizing_) {
        moving_ = resizing_ = false;
        endDrag();
        return;
    }
    if (!leftButton) {
        endDrag();
        return;
    }
    if (resizing_)
        followResize(*w, cursor);
    else if (moving_)
        followMove(*w, cursor);
}

void HostWindowModel::followResize(WindowSystem& w, Point cursor) {
    DragTracking& t = tracking();
    t.lastOperation = Operation::resized;
    if (!t.start) {
        t.resizeMoves = (gravity_ & (gravity::left | gravity::top)) != 0;
        t.lastDelta = {};
        // From where the drag began, not from the first move reported: pointer motion is
        // reported in batches, and the grip must stay under the pointer all the same.
        t.start = t.pressed;
        t.startWindow = w.windowRect();
        Rect client = w.clientRect();
        t.startClientWidth = client.width();
        t.startClientHeight = client.height();
        t.frameWidth = t.startWindow.width() - client.width();
        t.frameHeight = t.startWindow.height() - client.height();
        t.limits = resizeLimits_.value_or(ResizeLimits{});
        resizeLimits_.reset();
    }
    Point delta{cursor.x - t.start->x, cursor.y - t.start->y};
    if (delta == t.lastDelta)
        return;
    t.lastDelta = delta;

    int x = t.startWindow.left;
    int y = t.startWindow.top;
    int width = t.startClientWidth;
    int height = t.startClientHeight;
    if (gravity_ & gravity::right) {
        width += delta.x;
    } else if (gravity_ & gravity::left) {
        x += delta.x;
        width -= delta.x;
    }
    if (gravity_ & gravity::bottom) {
        height += delta.y;
    } else if (gravity_ & gravity::top) {
        y += delta.y;
        height -= delta.y;
    }
    // At a limit the moved edge stops and the opposite one stays put.
    const ResizeLimits& l = t.limits;
    constexpr std::int32_t rightTop = gravity::right | gravity::top;
    constexpr std::int32_t leftBottom = gravity::left | gravity::bottom;
    if (width < l.minWidth) {
        if (gravity_ != rightTop)
            x += width - l.minWidth;
        width = l.minWidth;
    } else if (l.maxWidth > 0 && width > l.maxWidth) {
        if (gravity_ != rightTop)
            x += width - l.maxWidth;
        width = l.maxWidth;
    }
    if (height < l.minHeight) {
        if (gravity_ != leftBottom)
            y += height - l.minHeight;
        height = l.minHeight;
    } else if (l.maxHeight > 0 && height > l.maxHeight) {
        if (gravity_ != leftBottom)
            y += height - l.maxHeight;
        height = l.maxHeight;
    }
    if (t.resizeMoves)
        w.setWindowRect(Rect::fromOriginSize(x, y, width + t.frameWidth, height + t.frameHeight));
    else
        w.resizeWindow(width + t.frameWidth, height + t.frameHeight);
}

void HostWindowModel::followMove(WindowSystem& w, Point cursor) {
    DragTracking& t = tracking();
    t.lastOperation = Operation::moved;
    Rect client = w.clientRect();
    Point inClient{cursor.x - client.left, cursor.y - client.top};
    if (!t.start) {
        // The point grabbed is where the drag began (see followResize).
        t.start = Point{t.pressed.x - client.left, t.pressed.y - client.top};
        t.monitor = {};
    }
    // The grabbed point follows the pointer, but not out of the work area less a margin.
    Point clamped = clampToWorkArea(inClient, kDragInset, true, false);
    Point offset{clamped.x - t.start->x, clamped.y - t.start->y};
    if (offset == Point{})
        return;
    Rect outer = w.windowRect();
    w.moveWindowTo({outer.left + offset.x, outer.top + offset.y});
}

void HostWindowModel::onLeftButtonUp() {
    WindowSystem* w = window();
    if (!w || (!moving_ && !resizing_ && !w->hasCapture()))
        return;
    endDrag();
}

void HostWindowModel::endDrag() {
    DragTracking& t = tracking();
    if (moving_) {
        t.start.reset();
        moving_ = false;
    } else if (resizing_) {
        t.start.reset();
        resizing_ = false;
        gravity_ = 0;
    }
    WindowSystem* w = window();
    if (!w || !w->hasCapture()) {
        t.lastOperation = Operation::none;
        return;
    }
    w->releaseCapture();
    hooks().dragEnded();
    Operation done = t.lastOperation;
    t.lastOperation = Operation::none;
    t.start.reset();
    // Last: the listeners may close the window and destroy this model.
    if (done == Operation::resized)
        hooks().fireWindowEvent(u"resized");
    else if (done == Operation::moved)
        hooks().fireWindowEvent(u"moved");
}

void HostWindowModel::onActivated() {
    // A maximised window that is placed on the work area by hand is placed there again.
    try {
        if (!window() || !window()->isZoomed())
            return;
        TaviWindowTypes type = getType();
        if (type == wtScreen || ((type == wtNormal || type == wtUtility) && hasMaximizeBox()))
            return;
        placeOnWorkArea();
    } catch (const std::exception&) {
    }
}

} // namespace norv::host
