#pragma once
// The window model of the host window: the type and style model with the host window's
// own rules (the type it was last given is the answer, a maximised window keeps its
// resizable flag aside), and the move and resize engine.
//
// Move and resize: a page's script calls beginMove() or beginResizing() while the left
// button is down (from a mousedown handler, say); the window grabs the pointer and
// follows it until the button is released, then fires "moved" or "resized" once through
// the hooks. A drag in which the pointer never moved, or that was aborted, fires nothing.
// Only one window can hold the pointer grab, so the state of the drag under way is one
// per process.
//
// Programmatic moves and sizes (moveTo, moveBy, resizeTo, resizeBy, maximize, minimize)
// check their arguments and the window type first. Failures are raised as framework
// exceptions; the window host's own messages as dispatch exceptions of code 1001.

#include <cstdint>
#include <optional>

#include "host/WindowStyleModel.h"

namespace norv::host {

// The edges a resize drag moves.
namespace gravity {
inline constexpr std::int32_t left = 1;
inline constexpr std::int32_t right = 2;
inline constexpr std::int32_t top = 4;
inline constexpr std::int32_t bottom = 8;
} // namespace gravity

// Client size limits of a resize drag; a maximum of 0 is none.
struct ResizeLimits {
    std::int32_t minWidth = 100;
    std::int32_t minHeight = 30;
    std::int32_t maxWidth = 0;
    std::int32_t maxHeight = 0;
};

class HostWindowModel final : public WindowStyleModel, private platform::gtk::WindowEvents {
public:
    explicit HostWindowModel(WindowHooks& hooks) : WindowStyleModel(hooks) {}
    ~HostWindowModel() override;

    void attach(platform::gtk::WindowSystem& window) override;
    void detach() override;

    // Keeps a maximised window maximised in its new type (unless screen mode is involved);
    // the type given is the answer of getType from then on.
    void setType(TaviWindowTypes type) override;
    TaviWindowTypes getType() override;
    // While maximised the flag is only kept, and taken up again when the window is
    // restored by a move or a resize.
    void setResizable(bool flag) override;
    bool getResizable() override;

    void beginMove();
    void abortMove();
    // Minimum 0 for both: the declared client size (100 x 30 where it cannot be read).
    void beginResizing(std::int32_t minWidth, std::int32_t minHeight, std::int32_t maxWidth,
                       std::int32_t maxHeight, std::int32_t gravity);
    void abortResizing();
    // Client size.
    void resizeTo(std::int32_t width, std::int32_t height);
    void resizeBy(std::int32_t dx, std::int32_t dy);
    // Outer top-left corner, kept inside the work area of its monitor.
    void moveTo(std::int32_t x, std::int32_t y);
    void moveBy(std::int32_t dx, std::int32_t dy);
    // Normal and utility windows with a maximize box are maximised by the window system;
    // the others are placed on the work area of their monitor, not resizable meanwhile.
    void maximize();
    // Only an application window: E_ACCESSDENIED otherwise.
    void minimize();

    bool isMoving() const { return moving_; }
    bool isResizing() const { return resizing_; }
    std::int32_t dragGravity() const { return gravity_; }

private:
    void onPointerMotion(platform::gtk::Point screen, bool leftButton) override;
    void onLeftButtonUp() override;
    void onActivated() override;

    void followResize(platform::gtk::WindowSystem& window, platform::gtk::Point cursor);
    void followMove(platform::gtk::WindowSystem& window, platform::gtk::Point cursor);
    void endDrag();
    void endMoveSilently();
    void endResizeSilently();
    void restoreFromMaximized();
    void placeOnWorkArea();
    // Moves `point` (client coordinates when `fromClient`) by what brings it, on the
    // screen, inside the work area of its monitor shrunk by `inset` on every side.
    platform::gtk::Point clampToWorkArea(platform::gtk::Point point, int inset, bool fromClient,
                                         bool resetCache);

    bool moving_ = false;
    bool resizing_ = false;
    std::int32_t gravity_ = 0;
    std::optional<ResizeLimits> resizeLimits_;
    bool resizableBeforeMaximize_ = false;
    TaviWindowTypes cachedType_ = typelib::wtUnknown;
};

} // namespace norv::host
