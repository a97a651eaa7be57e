#pragma once
// GObjectRef: an owning reference to a GObject (g_object_unref on destruction).

#include <glib-object.h>

#include <utility>

namespace norv::glib {

template <class T>
class GObjectRef {
public:
    GObjectRef() = default;
    // Takes over a reference the caller owns (transfer full).
    static GObjectRef adopt(T* p) {
        GObjectRef r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own (transfer none).
    static GObjectRef retain(T* p) {
        if (p)
            g_object_ref(p);
        return adopt(p);
    }
    // Takes over a floating reference (a new widget, say) or adds one of its own.
    static GObjectRef sink(T* p) {
        if (p)
            g_object_ref_sink(p);
        return adopt(p);
    }
    GObjectRef(const GObjectRef& o) : p_(o.p_) {
        if (p_)
            g_object_ref(p_);
    }
    GObjectRef(GObjectRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GObjectRef& operator=(GObjectRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~GObjectRef() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            g_object_unref(p);
    }
    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace norv::glib
