#pragma once
// TaviSplashBase: the small window a host dialog shows while its next document loads (the
// splash page). A host dialog of its own, with a few differences:
//  - its navigation errors are its own business: no message box, no error page;
//  - the other visible windows of its parent (the host window's message boxes and file
//    dialogs) are kept directly behind it whenever it is placed, and while any of them is
//    visible the page gets no mouse moves or clicks;
//  - asked to close (its close button, the window manager), it closes its parent instead:
//    closing the splash closes the application's window, which then takes the splash
//    with it;
//  - its parent ends it with dismiss() once its own document is complete, and not before
//    the splash has shown its page: its page complete and its window mapped on the screen
//    (or, should the window manager never map it, a moment later), so that the splash
//    comes first on the screen.
//
// The parent owns nothing of it: the splash belongs to its window, like every host dialog,
// and tells the parent when it is gone. UI thread only.

#include <vector>

#include "host/HostDialog.h"

namespace norv::host {

class TaviSplashBase final : public HostDialog {
public:
    TaviSplashBase(com::ComPtr<app::TaviHost> host, WebSession& session, HostDialog& parent);
    ~TaviSplashBase() override;

    // The window goes (from the main loop), without closing the parent.
    void dismiss();
    // The parent is going: from now on the splash closes only itself.
    void detachParent() { parent_ = nullptr; }

    void createWithOwner(std::unique_ptr<app::HostWindow> self, app::OwnerWindow& owner) override;
    bool onNavigateError(const std::u16string& url, const std::u16string& frame,
                         com::HRESULT status) override;

    // Its page has completed and its window is on the screen (or will not be).
    bool pageShown() const { return pageShown_; }

    // How long the splash waits for its window to be mapped once its page is complete.
    static constexpr unsigned mapDeadlineMs = 2000;

protected:
    void onClose() override;
    void onWindowDestroyed() override;
    bool onDocumentCompleted(const std::u16string& url) override;
    bool followsSession() const override { return false; }

private:
    // The parent's visible windows other than the splash, collected now.
    std::vector<GtkWindow*> otherVisibleWindows() const;
    void keepOthersBehind();
    static int onConfigure(GtkWindow* window, void* event, TaviSplashBase* self);
    static int onMapped(GtkWindow* window, void* event, TaviSplashBase* self);
    // Tells the parent, once, that the page is shown.
    void reportShown();
    static int onPointer(void* widget, void* event, TaviSplashBase* self);

    HostDialog* parent_; // null once the parent is going
    bool pageShown_ = false;
    bool documentDone_ = false;
    bool mapped_ = false;
    unsigned mapDeadline_ = 0; // the source that stops waiting for the map
};

} // namespace norv::host
