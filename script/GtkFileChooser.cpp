#include "script/GtkFileChooser.h"

#include <glib.h>

#include "platform/com/Bstr.h"
#include "platform/com/Exceptions.h"
#include "platform/glib/Owned.h"
#include "platform/gtk/FileChooserDialog.h"

namespace norv::script {

using platform::gtk::FileChooserDialog;

std::optional<std::u16string> GtkFileChooser::choose(const FileChooserRequest& request) {
    FileChooserDialog::Options options;
    options.save = request.save;
    options.title = com::utf16ToUtf8(request.title);
    options.confirmOverwrite = request.promptOverwrite;
    for (const FileDialogFilter& f : request.filters) {
        FileChooserDialog::Filter filter{com::utf16ToUtf8(f.description), {}};
        for (const std::u16string& pattern : f.patterns)
            filter.patterns.push_back(com::utf16ToUtf8(pattern));
        options.filters.push_back(std::move(filter));
    }
    if (request.fileName)
        options.initialFile = com::utf16ToUtf8(*request.fileName);

    const std::optional<std::string> path = FileChooserDialog::run(request.parent, options);
    if (!path)
        return std::nullopt;
    glib::OwnedText utf8(g_filename_to_utf8(path->c_str(), -1, nullptr, nullptr, nullptr));
    if (!utf8)
        throw com::DispatchException(u"The name of the chosen file cannot be read as text.");
    return com::utf8ToUtf16(utf8.get());
}

} // namespace norv::script
