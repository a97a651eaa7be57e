// render-icon: draws an SVG icon as a square PNG of the given size, through GdkPixbuf's SVG
// loader (librsvg), the way the desktop's icon theme would draw it.
//
//   render-icon SOURCE.svg SIZE OUTPUT.png
//
// Exits 1 with a message when the icon cannot be drawn at that size.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/glib/GObjectRef.h"
#include "platform/glib/Owned.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE.svg SIZE OUTPUT.png\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[2]);
    if (size <= 0) {
        std::fprintf(stderr, "render-icon: %s is no size\n", argv[2]);
        return 2;
    }
    GError* error = nullptr;
    auto pixbuf = norv::glib::GObjectRef<GdkPixbuf>::adopt(
        gdk_pixbuf_new_from_file_at_size(argv[1], size, size, &error));
    if (!pixbuf) {
        norv::glib::OwnedError failure(error);
        std::fprintf(stderr, "render-icon: %s: %s\n", argv[1], failure ? failure->message : "");
        return 1;
    }
    if (gdk_pixbuf_get_width(pixbuf.get()) != size || gdk_pixbuf_get_height(pixbuf.get()) != size) {
        std::fprintf(stderr, "render-icon: %s is not square\n", argv[1]);
        return 1;
    }
    if (!gdk_pixbuf_save(pixbuf.get(), argv[3], "png", &error, nullptr)) {
        norv::glib::OwnedError failure(error);
        std::fprintf(stderr, "render-icon: %s: %s\n", argv[3], failure ? failure->message : "");
        return 1;
    }
    return 0;
}
