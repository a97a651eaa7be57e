#pragma once
// The hidden owner of a set of top-level windows on X11: an unmapped top-level window
// placed off-screen with no useful size, which is the X11 window-group leader of the
// windows it owns (not their transient parent, so that they keep their taskbar entries).
//
// A request to close it (WM_DELETE_WINDOW) and the end of the session (SIGTERM) close the
// windows it owns that are marked as closable by it; the owner itself stays.

#include <string_view>

typedef struct _GtkWindow GtkWindow;
typedef struct _GdkPixbuf GdkPixbuf;

namespace norv::platform::gtk {

class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    GtkWindow* window() const { return window_; }
    void setTitle(std::string_view title);
    void setIcon(GdkPixbuf* icon);
    // Shown without activation: the window stays unmapped, so it neither takes the focus
    // nor appears anywhere; it only exists as the group leader.
    void showNoActivate();

    // Makes `owned` (realising it when needed) a member of this window's group.
    void adopt(GtkWindow* owned);
    // Whether `window` belongs to this window's group.
    bool owns(GtkWindow* window) const;

    // Marks a window as one that this owner closes when it is asked to close.
    static void markClosableByOwner(GtkWindow* window);

    // Posts a close request to every marked window of this group.
    void closeOwnedWindows();

private:
    GtkWindow* window_ = nullptr;
    unsigned signalSource_ = 0;
};

} // namespace norv::platform::gtk
