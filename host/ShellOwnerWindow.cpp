#include "host/ShellOwnerWindow.h"

#include <gtk/gtk.h>

#include "platform/com/Bstr.h"
#include "platform/glib/GObjectRef.h"
#include "res/Resources.h"

namespace norv::host {

void ShellOwnerWindow::setTitle(const std::u16string& title) {
    window_.setTitle(com::utf16ToUtf8(title));
}

bool ShellOwnerWindow::setIcon(unsigned id) {
    auto png = res::loadIcon(id);
    if (!png)
        return false;
    auto loader =
        glib::GObjectRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new_with_type("png", nullptr));
    if (!loader)
        return false;
    bool written = gdk_pixbuf_loader_write(
        loader.get(), reinterpret_cast<const guchar*>(png->data()), png->size(), nullptr);
    // Closing also ends a failed load, so it happens in every case.
    bool loaded = gdk_pixbuf_loader_close(loader.get(), nullptr) && written;
    GdkPixbuf* icon = loaded ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
    if (icon)
        window_.setIcon(icon);
    return icon != nullptr;
}

} // namespace norv::host
