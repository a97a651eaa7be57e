#pragma once
// CommandLine: the program's options, read the way GLib programs read theirs
// (GOptionContext). --help, --help-all and the help of each added group are GLib's own
// (printed to standard output, exit code 0); --version prints the versions in use; "-r",
// with which an automatic restart would start the program, is accepted and ignored. An
// option nobody knows, or one that lacks its value, is an error: a message on standard
// error and exit code 2. Arguments that are no options are left alone: the program ignores
// them, as it always has.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include <glib.h>

namespace norv::app {

class CommandLine {
public:
    // The exit code of a command line that cannot be read.
    static constexpr int usageError = 2;

    // `summary` is shown under the usage line of --help, `description` after the options.
    CommandLine(const std::string& summary, const std::string& description);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Adds an option group (GTK's, say), which the command line then owns.
    void addGroup(GOptionGroup* group);

    // Reads the options of argc/argv and removes those it knows from them. nullopt: start
    // the program; otherwise the process should exit with the returned code, having
    // written what it had to say (--version's `versionText()` to `out`, errors to `err`).
    // --help is printed and exits inside GLib.
    std::optional<int> parse(int& argc, char**& argv,
                             const std::function<std::string()>& versionText, std::ostream& out,
                             std::ostream& err);

private:
    GOptionContext* context_;
    gboolean version_ = FALSE;
    gboolean restart_ = FALSE;
};

} // namespace norv::app
