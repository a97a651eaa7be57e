#pragma once
// GtkFileChooser: the file dialogs of the desktop (platform/gtk's FileChooserDialog) as a
// file dialog object asks for them. Texts go to the dialog as UTF-8; the chosen path comes
// back as text, which a path that is not valid in the file system's encoding cannot be
// (that is a failure, not a silently different file).

#include "script/FileChooser.h"

namespace norv::script {

class GtkFileChooser final : public FileChooser {
public:
    std::optional<std::u16string> choose(const FileChooserRequest& request) override;
};

} // namespace norv::script
