#include "platform/com/WhiteSpace.h"

#include <glib.h>

namespace norv::com {

bool isWhiteSpace(char16_t c) {
    // GLib leaves out the vertical tab, which every C library counts as white space.
    return c == u'\v' || g_unichar_isspace(c);
}

} // namespace norv::com
