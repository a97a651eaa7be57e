#pragma once
// DesktopApplication: the program as a GtkApplication under its application id, registered
// so that what GTK does for a registered application works (its idle inhibition through
// the session manager or the inhibit portal, see ApplicationIdleInhibitor).
//
// The application is not unique (G_APPLICATION_NON_UNIQUE): every start of the program
// opens its own window, and a second start is never handed over to the first one. GLib
// still registers it: the application's objects are exported on the process's own
// session-bus connection under the id's object path, only no bus name is owned. Without a
// session bus it is registered within the process, as GLib does for every application.
// The program's own main loop runs it: g_application_run is not used.
//
// Registering starts GTK (gtk_init) when it is not started yet. UI thread only.

#include <string>

#include "platform/glib/GObjectRef.h"

typedef struct _GtkApplication GtkApplication;

namespace norv::platform::gtk {

class DesktopApplication {
public:
    // Registers `applicationId` (g_application_id_is_valid; another id gives no
    // application, with a warning).
    explicit DesktopApplication(const std::string& applicationId);
    ~DesktopApplication();
    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    // Null when the id was refused.
    GtkApplication* get() const { return application_.get(); }
    bool isRegistered() const;

private:
    norv::glib::GObjectRef<GtkApplication> application_;
};

} // namespace norv::platform::gtk
