#pragma once
// FileChooser: what a file dialog object needs from the desktop, the dialog itself. The
// program's is GtkFileChooser (the desktop's file chooser); unit tests use their own.

#include <optional>
#include <string>
#include <vector>

#include "script/FileDialogFilter.h"

typedef struct _GtkWindow GtkWindow;

namespace norv::script {

struct FileChooserRequest {
    bool save = false;    // a save dialog, else an open dialog
    std::u16string title; // empty: the dialog's own
    std::vector<FileDialogFilter> filters;
    // The file the dialog starts with (a name or a path); nullopt: none.
    std::optional<std::u16string> fileName;
    // A save dialog asks for confirmation before it accepts a file that exists.
    bool promptOverwrite = false;
    GtkWindow* parent = nullptr; // the window it is modal for; null: none
};

class FileChooser {
public:
    virtual ~FileChooser() = default;

    // Shows the dialog and returns when the user has closed it; the main loop runs
    // meanwhile. The full path of the file the user chose, or nullopt when the user
    // cancelled. Failures are raised as the framework's exceptions.
    virtual std::optional<std::u16string> choose(const FileChooserRequest& request) = 0;
};

} // namespace norv::script
