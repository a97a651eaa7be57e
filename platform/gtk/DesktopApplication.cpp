#include "platform/gtk/DesktopApplication.h"

#include <gtk/gtk.h>

#include "platform/glib/Owned.h"

namespace norv::platform::gtk {

DesktopApplication::DesktopApplication(const std::string& applicationId) {
    if (!g_application_id_is_valid(applicationId.c_str())) {
        g_warning("\"%s\" is no application id: the program runs without one",
                  applicationId.c_str());
        return;
    }
    application_ = norv::glib::GObjectRef<GtkApplication>::adopt(
        gtk_application_new(applicationId.c_str(), G_APPLICATION_NON_UNIQUE));
    GError* error = nullptr;
    if (!g_application_register(G_APPLICATION(application_.get()), nullptr, &error)) {
        norv::glib::OwnedError failure(error);
        g_warning("the program cannot register as %s: %s", applicationId.c_str(),
                  failure ? failure->message : "");
    }
}

DesktopApplication::~DesktopApplication() = default;

bool DesktopApplication::isRegistered() const {
    return application_ && g_application_get_is_registered(G_APPLICATION(application_.get()));
}

} // namespace norv::platform::gtk
