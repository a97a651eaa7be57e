#pragma once
// DesktopProgram: the program's place on the desktop for the life of the process.
//
// start() reads the command line (the program's options and GTK's, see app/CommandLine),
// answers --help and --version, starts GTK on its X11 backend (the page places its own
// window, which a Wayland compositor does not allow a client), and names the program
// towards the desktop: the class of its windows (WM_CLASS) and the id of its GtkApplication
// are the application id, the application's name is the desktop name. The GtkApplication is
// registered but not unique, so every start opens its own window; the display service takes
// GTK's idle inhibition through it. The end gives back what the display service still holds.

#include <optional>
#include <string>

#include "platform/gtk/DesktopApplication.h"

namespace norv {

namespace app {
class ShellPlatform;
}

class DesktopProgram {
public:
    struct Identity {
        std::string applicationId; // reverse-DNS, as in the desktop entry's name
        std::string desktopName;   // as in the desktop entry's Name
    };

    explicit DesktopProgram(Identity identity);
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // Removes the options it knows from argc/argv. nullopt: the program starts (GTK is
    // running); otherwise the process exits with the returned code (--help, --version, a
    // command line that cannot be read).
    std::optional<int> start(int& argc, char**& argv, app::ShellPlatform& platform);

private:
    Identity identity_;
    std::optional<platform::gtk::DesktopApplication> application_;
};

} // namespace norv
