// norv-view: the shell's executable, where the program is assembled. It joins the
// application to the GTK desktop and exits with the code of the last quit message.

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/Application.h"
#include "host/GtkShellPlatform.h"

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    norv::host::GtkShellPlatform platform;
    norv::app::Application application(platform);
    application.initInstance(arguments);
    return platform.lastQuitCode();
}
