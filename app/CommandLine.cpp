#include "app/CommandLine.h"

#include <ostream>

#include "platform/glib/Owned.h"

namespace norv::app {

CommandLine::CommandLine(const std::string& summary, const std::string& description)
    : context_(g_option_context_new(nullptr)) {
    // GOptionContext keeps the entries' names and texts as given: static ones here.
    const GOptionEntry entries[] = {
        {"version", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &version_,
         "Show the program's version and those of WebKitGTK and GStreamer", nullptr},
        // Accepted and ignored: a restarted program starts as any other.
        {"restart", 'r', G_OPTION_FLAG_HIDDEN, G_OPTION_ARG_NONE, &restart_,
         "Started again after a failure (ignored)", nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    g_option_context_add_main_entries(context_, entries, nullptr);
    if (!summary.empty())
        g_option_context_set_summary(context_, summary.c_str());
    if (!description.empty())
        g_option_context_set_description(context_, description.c_str());
}

CommandLine::~CommandLine() {
    g_option_context_free(context_);
}

void CommandLine::addGroup(GOptionGroup* group) {
    g_option_context_add_group(context_, group);
}

std::optional<int> CommandLine::parse(int& argc, char**& argv,
                                      const std::function<std::string()>& versionText,
                                      std::ostream& out, std::ostream& err) {
    GError* error = nullptr;
    if (!g_option_context_parse(context_, &argc, &argv, &error)) {
        glib::OwnedError failure(error);
        const char* name = g_get_prgname() ? g_get_prgname() : "norv-view";
        err << name << ": " << (failure ? failure->message : "the command line cannot be read")
            << "\nTry \"" << name << " --help\" for more information.\n";
        err.flush();
        return usageError;
    }
    if (version_) {
        out << versionText() << '\n';
        out.flush();
        return 0;
    }
    return std::nullopt;
}

} // namespace norv::app
