#pragma once
// Owned<T, Free>: sole ownership of a C library's object that is released by calling one
// function, with the usual GLib ones named. Reference-counted GObjects use GObjectRef.
//
//   glib::Owned<char, g_free> text(g_strdup("..."));
//   glib::Owned<xmlChar, freeXml> value(xmlGetNoNsProp(node, name)); // any C library

#include <glib.h>

#include <memory>

namespace norv::glib {

// Calls Free on a non-null pointer (std::unique_ptr never calls its deleter with null).
template <auto Free>
struct FreeWith {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};

template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

using OwnedText = Owned<char, g_free>; // a string GLib allocated
using OwnedError = Owned<GError, g_error_free>;
using OwnedBytes = Owned<GBytes, g_bytes_unref>;
using OwnedUri = Owned<GUri, g_uri_unref>;
using OwnedMainLoop = Owned<GMainLoop, g_main_loop_unref>;

} // namespace norv::glib
