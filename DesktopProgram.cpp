#include "DesktopProgram.h"

#include <gtk/gtk.h>

#include <iostream>
#include <utility>

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/ShellPlatform.h"
#include "platform/com/Bstr.h"
#include "platform/com/Exceptions.h"
#include "platform/media/MediaClasses.h"
#include "platform/web/WebView.h"
#include "script/X11DisplayDesktop.h"

namespace norv {

namespace {

// "Norv View 1.5.0.0", then the libraries in use, one a line.
std::string versionText(app::ShellPlatform& platform) {
    std::string text = com::utf16ToUtf8(app::Application::loadCaption(platform));
    if (auto version = platform.fileVersion())
        text += " " + std::to_string((*version)[0]) + "." + std::to_string((*version)[1]) + "." +
                std::to_string((*version)[2]) + "." + std::to_string((*version)[3]);
    text += "\nWebKitGTK " + web::WebView::engineVersion();
    text += "\nGStreamer " + platform::media::mediaFrameworkVersion();
    return text;
}

std::string summary(app::ShellPlatform& platform) {
    try {
        return "Opens " + com::utf16ToUtf8(app::Application::loadStartupUri(platform)) +
               " in a window of its own.";
    } catch (const com::FrameworkException&) {
        return {}; // the start shows why
    }
}

constexpr const char* kDescription =
    "With G_MESSAGES_DEBUG=norv-view in the environment the log shows the life of the\n"
    "pages: navigation, the script bridge, the player's states.";

} // namespace

DesktopProgram::DesktopProgram(Identity identity) : identity_(std::move(identity)) {}

DesktopProgram::~DesktopProgram() {
    script::X11DisplayDesktop::shutdown();
    script::X11DisplayDesktop::setProgramApplication(nullptr);
}

std::optional<int> DesktopProgram::start(int& argc, char**& argv, app::ShellPlatform& platform) {
    gdk_set_allowed_backends("x11");

    app::CommandLine commandLine(summary(platform), kDescription);
    // GTK's own options (--display, --class, ...); the display is opened below, so that
    // --help and --version need none.
    commandLine.addGroup(gtk_get_option_group(FALSE));
    auto done = commandLine.parse(
        argc, argv, [&] { return versionText(platform); }, std::cout, std::cerr);
    if (done)
        return done;

    // Once GTK has read its options (GDK keeps a class given with --class), and before the
    // display is opened, where GDK names its client leader window.
    gdk_set_program_class(identity_.applicationId.c_str());
    gtk_init(&argc, &argv);
    g_set_application_name(identity_.desktopName.c_str());
    application_.emplace(identity_.applicationId);
    // The media player control's classes, after GTK so that its video has a widget. A
    // machine without GStreamer still runs the pages, without players.
    if (!platform::media::registerMediaClasses())
        g_warning("player: GStreamer cannot be initialised; pages get no media player");
    script::X11DisplayDesktop::setProgramApplication(application_->get());
    return std::nullopt;
}

} // namespace norv
