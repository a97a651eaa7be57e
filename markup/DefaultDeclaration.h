#pragma once
// The built-in dialog declaration that start-up hands the host window as the default for
// every page that declares no window of its own.

#include <string_view>

#include "platform/com/Bstr.h"

namespace norv::markup {

// The declaration as the program carries it: a ui:dialog with the title and its close
// and minimise buttons, all optional.
std::u16string_view builtinDialogDeclarationSource();

// That declaration read into a WindowDescription and written back by its serialiser (a
// ui:window root). Absent when the description cannot be made or serialised.
com::Bstr builtinDialogDeclaration();

} // namespace norv::markup
