// norv-view: the shell's executable, where the program is assembled. It takes its place on
// the desktop, runs the application and exits with the code of the last quit message.

#include <string>
#include <vector>

#include "DesktopProgram.h"
#include "app/Application.h"
#include "host/GtkShellPlatform.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    norv::host::GtkShellPlatform platform;
    norv::DesktopProgram program({NORV_APPLICATION_ID, NORV_DESKTOP_NAME});
    if (auto exitCode = program.start(argc, argv, platform))
        return *exitCode;
    norv::app::Application application(platform);
    application.initInstance(arguments);
    return platform.lastQuitCode();
}
