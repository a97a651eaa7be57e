#pragma once
// FileChooserDialog: the desktop's file open and save dialogs (GtkFileChooserNative: the
// desktop's own dialog through the file chooser portal where GTK uses one, GTK's own
// dialog otherwise), run modally for a parent window.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace norv::platform::gtk {

class FileChooserDialog {
public:
    // One entry of the dialog's file type list: a name and the patterns it shows, in the
    // file dialog sense: "*" and "?" wildcards, letters matching without regard to case,
    // "*.*" every file.
    struct Filter {
        std::string name; // UTF-8
        std::vector<std::string> patterns;
    };
    struct Options {
        bool save = false;
        std::string title; // UTF-8; empty: the dialog's own
        std::vector<Filter> filters;
        // The file the dialog starts with (UTF-8): a name or a path, relative to the
        // current directory or absolute; the dialog shows its folder, a save dialog offers
        // its name, an open dialog selects it when it exists. Empty: none.
        std::string initialFile;
        // A save dialog asks before it accepts a file that exists.
        bool confirmOverwrite = false;
    };

    // Shows the dialog, modal for `parent` (may be null), and returns when the user closed
    // it; the main loop runs meanwhile. The chosen file's absolute path (in the file
    // system's encoding), or nullopt when the user cancelled.
    static std::optional<std::string> run(GtkWindow* parent, const Options& options);

    // The pattern GTK matches as `pattern` is meant: each letter as a bracket of both its
    // cases (GTK compares case-sensitively), "*.*" as "*".
    static std::string globOf(std::string_view pattern);
};

} // namespace norv::platform::gtk
