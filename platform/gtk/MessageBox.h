#pragma once
// Message boxes: modal GtkMessageDialogs with the caption as their title.

#include <string_view>

typedef struct _GtkWindow GtkWindow;

namespace norv::platform::gtk {

enum class MessageBoxIcon { None, Information, Warning, Error, Question };

// Shows `text` under `caption` with an OK button and waits until it is closed. `parent` may
// be null. The dialog's window has the role "norv-message-box". Ctrl+C (or Ctrl+Insert)
// copies the text to the clipboard, as the message boxes of other desktops do.
void messageBox(GtkWindow* parent, std::string_view text, std::string_view caption,
                MessageBoxIcon icon = MessageBoxIcon::Warning);

} // namespace norv::platform::gtk
