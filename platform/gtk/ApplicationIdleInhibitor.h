#pragma once
// ApplicationIdleInhibitor: the idle inhibition of a GtkApplication
// (gtk_application_inhibit with GTK_APPLICATION_INHIBIT_IDLE), which GTK passes to the
// desktop's session manager (org.gnome.SessionManager) or the inhibit portal. It works
// only while the program runs as a registered GtkApplication; without a session manager
// GTK holds nothing and the hold is empty.
//
// A hold names the X window it is for, so that the session manager can tell the user
// which window keeps the session awake. UI thread only.

#include <memory>
#include <string>

typedef struct _GtkApplication GtkApplication;

namespace norv::platform::gtk {

class ApplicationIdleInhibitor {
public:
    class Hold {
    public:
        Hold(GtkApplication* application, unsigned cookie);
        // Returns the cookie (gtk_application_uninhibit) and writes the release out.
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        GtkApplication* application_; // owned reference
        unsigned cookie_;
    };

    // Keeps a reference to `application`.
    explicit ApplicationIdleInhibitor(GtkApplication* application);
    ~ApplicationIdleInhibitor();
    ApplicationIdleInhibitor(const ApplicationIdleInhibitor&) = delete;
    ApplicationIdleInhibitor& operator=(const ApplicationIdleInhibitor&) = delete;

    // An idle inhibition for the GTK window whose X window is `xwindow` (0 or an unknown
    // window: for the application as a whole); null when GTK could not take one.
    std::unique_ptr<Hold> inhibit(unsigned long xwindow, const std::string& reason);

private:
    GtkApplication* application_; // owned reference
};

} // namespace norv::platform::gtk
