#include "platform/gtk/FileChooserDialog.h"

#include <gtk/gtk.h>

#include "platform/glib/GObjectRef.h"
#include "platform/glib/Owned.h"

namespace norv::platform::gtk {

std::string FileChooserDialog::globOf(std::string_view pattern) {
    if (pattern == "*.*")
        return "*";
    std::string glob;
    bool inBracket = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (inBracket) {
            glob.push_back(c);
            if (c == ']')
                inBracket = false;
            continue;
        }
        if (c == '[') {
            inBracket = true;
            glob.push_back(c);
            // A closing bracket right after the opening one is one of the bracket's members.
            if (i + 1 < pattern.size() && pattern[i + 1] == ']')
                glob.push_back(pattern[++i]);
            continue;
        }
        const char lower = g_ascii_tolower(c);
        const char upper = g_ascii_toupper(c);
        if (lower == upper) {
            glob.push_back(c);
            continue;
        }
        glob += '[';
        glob += lower;
        glob += upper;
        glob += ']';
    }
    return glob;
}

namespace {

// Shows the folder of `file` (UTF-8, relative to the current directory) and, for a save
// dialog, offers its name; an open dialog selects the file when it exists.
void startWith(GtkFileChooser* chooser, const std::string& file, bool save) {
    glib::OwnedText local(g_filename_from_utf8(file.c_str(), -1, nullptr, nullptr, nullptr));
    if (!local)
        return;
    glib::OwnedText absolute(
        g_path_is_absolute(local.get())
            ? g_strdup(local.get())
            : g_build_filename(glib::OwnedText(g_get_current_dir()).get(), local.get(), nullptr));
    const bool folderOnly = file.back() == G_DIR_SEPARATOR;
    glib::OwnedText folder(folderOnly ? g_strdup(absolute.get())
                                      : g_path_get_dirname(absolute.get()));
    if (g_file_test(folder.get(), G_FILE_TEST_IS_DIR))
        gtk_file_chooser_set_current_folder(chooser, folder.get());
    if (folderOnly)
        return;
    if (save) {
        const std::size_t slash = file.rfind(G_DIR_SEPARATOR);
        const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
        gtk_file_chooser_set_current_name(chooser, name.c_str());
    } else if (g_file_test(absolute.get(), G_FILE_TEST_IS_REGULAR)) {
        gtk_file_chooser_set_filename(chooser, absolute.get());
    }
}

} // namespace

std::optional<std::string> FileChooserDialog::run(GtkWindow* parent, const Options& options) {
    const GtkFileChooserAction action =
        options.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* title =
        options.title.empty() ? (options.save ? "Save As" : "Open") : options.title.c_str();
    auto native = glib::GObjectRef<GtkFileChooserNative>::adopt(
        gtk_file_chooser_native_new(title, parent, action, nullptr, nullptr));
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native.get());
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native.get()), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser,
                                                   options.save && options.confirmOverwrite);

    for (const Filter& f : options.filters) {
        GtkFileFilter* filter = gtk_file_filter_new(); // floating: the chooser sinks it
        gtk_file_filter_set_name(filter, f.name.c_str());
        for (const std::string& pattern : f.patterns)
            gtk_file_filter_add_pattern(filter, globOf(pattern).c_str());
        gtk_file_chooser_add_filter(chooser, filter);
    }

    if (!options.initialFile.empty())
        startWith(chooser, options.initialFile, options.save);

    const gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native.get()));
    std::optional<std::string> chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (char* path = gtk_file_chooser_get_filename(chooser)) {
            chosen = path;
            g_free(path);
        }
    }
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(native.get()));
    return chosen;
}

} // namespace norv::platform::gtk
