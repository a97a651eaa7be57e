#pragma once
// HeldWindow: a top-level GtkWindow that cannot become visible while it is held back.
// While held, a request to show or map it, whoever makes it (gtk_widget_show, show_all,
// gtk_window_present, a container showing its children), is dropped: the window stays
// unmapped. Once released it is shown like any window, by whoever asks next.
//
// The handle owns the window: destroying the handle destroys the window (unless it was
// destroyed already).

typedef struct _GtkWindow GtkWindow;

namespace norv::platform::gtk {

class HeldWindow {
public:
    // A new top-level window, held back from the start.
    HeldWindow();
    ~HeldWindow();
    HeldWindow(const HeldWindow&) = delete;
    HeldWindow& operator=(const HeldWindow&) = delete;

    // Null once the window was destroyed.
    GtkWindow* window() const { return window_; }

    void hold(bool held);
    bool isHeld() const;
    // Whether `window` is a window of this kind that is held back now.
    static bool isHeld(GtkWindow* window);

private:
    static void onDestroy(GtkWindow* window, HeldWindow* self);

    GtkWindow* window_ = nullptr;
};

} // namespace norv::platform::gtk
