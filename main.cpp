// norv-view: the shell's executable, where the program is assembled. It joins the
// application to the GTK desktop and exits with the code of the last quit message.
//
// The program always uses GTK's X11 backend (through XWayland on a Wayland session): its
// pages place, move and resize their own windows, which a Wayland compositor does not let
// a client do.

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/Application.h"
#include "host/GtkShellPlatform.h"

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    gtk_init(&argc, &argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    norv::host::GtkShellPlatform platform;
    norv::app::Application application(platform);
    application.initInstance(arguments);
    return platform.lastQuitCode();
}
