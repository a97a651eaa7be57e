#pragma once
// GstRef: an owning reference to a GStreamer object or mini object (or any GObject),
// released with the matching unref on destruction.

#include <gst/gst.h>

#include <utility>

namespace norv::platform::media {

namespace detail {
inline void unrefObject(GstCaps* p) {
    gst_caps_unref(p);
}
inline void unrefObject(GstMessage* p) {
    gst_message_unref(p);
}
inline void unrefObject(GstEvent* p) {
    gst_event_unref(p);
}
inline void unrefObject(GstBuffer* p) {
    gst_buffer_unref(p);
}
inline void unrefObject(GstQuery* p) {
    gst_query_unref(p);
}
inline void unrefObject(GstSample* p) {
    gst_sample_unref(p);
}
// GstObject and every other GObject.
inline void unrefObject(gpointer p) {
    g_object_unref(p);
}
} // namespace detail

template <class T>
class GstRef {
public:
    GstRef() = default;
    GstRef(std::nullptr_t) {}
    // Takes over a reference the caller owns (transfer full).
    static GstRef adopt(T* p) {
        GstRef r;
        r.p_ = p;
        return r;
    }
    // Takes a GObject reference, sinking a floating one (elements fresh from a factory).
    static GstRef sink(T* p) {
        if (p)
            g_object_ref_sink(p);
        return adopt(p);
    }
    GstRef(const GstRef&) = delete;
    GstRef& operator=(const GstRef&) = delete;
    GstRef(GstRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GstRef& operator=(GstRef&& o) noexcept {
        GstRef(std::move(o)).swap(*this);
        return *this;
    }
    ~GstRef() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            detail::unrefObject(p);
    }
    void swap(GstRef& o) noexcept { std::swap(p_, o.p_); }
    T* get() const { return p_; }
    [[nodiscard]] T* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace norv::platform::media
