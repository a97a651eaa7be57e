#include "host/ResourceMediaSource.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <algorithm>

#include "res/Resources.h"

namespace {

// A source over the resource's bytes in memory: random access and seekable, so the player
// seeks in the clip and finds its size.
struct NorvResourceSrc {
    GstBaseSrc parent;
    GBytes* bytes; // the resource; null until an address is set
    gchar* uri;
};
struct NorvResourceSrcClass {
    GstBaseSrcClass parent;
};

GType norv_resource_src_get_type();
void norv_resource_src_uri_init(gpointer iface, gpointer);

G_DEFINE_TYPE_WITH_CODE(NorvResourceSrc, norv_resource_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, norv_resource_src_uri_init))

NorvResourceSrc* asSource(gpointer object) {
    return G_TYPE_CHECK_INSTANCE_CAST(object, norv_resource_src_get_type(), NorvResourceSrc);
}

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void norv_resource_src_init(NorvResourceSrc* self) {
    self->bytes = nullptr;
    self->uri = nullptr;
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
}

void finalize(GObject* object) {
    auto* self = asSource(object);
    if (self->bytes)
        g_bytes_unref(self->bytes);
    g_free(self->uri);
    G_OBJECT_CLASS(norv_resource_src_parent_class)->finalize(object);
}

gboolean start(GstBaseSrc* src) {
    auto* self = asSource(src);
    if (self->bytes == nullptr) {
        GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("No resource address given"), (nullptr));
        return FALSE;
    }
    return TRUE;
}

gboolean isSeekable(GstBaseSrc*) {
    return TRUE;
}

gboolean getSize(GstBaseSrc* src, guint64* size) {
    auto* self = asSource(src);
    if (self->bytes == nullptr)
        return FALSE;
    *size = g_bytes_get_size(self->bytes);
    return TRUE;
}

GstFlowReturn fill(GstBaseSrc* src, guint64 offset, guint length, GstBuffer* buffer) {
    auto* self = asSource(src);
    gsize size = 0;
    const auto* data = static_cast<const guint8*>(g_bytes_get_data(self->bytes, &size));
    if (offset >= size)
        return GST_FLOW_EOS;
    const gsize count = std::min<gsize>(length, size - offset);
    gst_buffer_fill(buffer, 0, data + offset, count);
    gst_buffer_set_size(buffer, static_cast<gssize>(count));
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + count;
    return GST_FLOW_OK;
}

void norv_resource_src_class_init(NorvResourceSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Program resource source", "Source/File",
                                          "Reads the program's own resources (res addresses)",
                                          "Norv View");
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->start = start;
    base->is_seekable = isSeekable;
    base->get_size = getSize;
    base->fill = fill;
}

GstURIType uriType(GType) {
    return GST_URI_SRC;
}

const gchar* const* protocols(GType) {
    static const gchar* const names[] = {"res", nullptr};
    return names;
}

gchar* getUri(GstURIHandler* handler) {
    return g_strdup(asSource(handler)->uri);
}

gboolean setUri(GstURIHandler* handler, const gchar* uri, GError** error) {
    auto* self = asSource(handler);
    GstState state = GST_STATE(self);
    if (state != GST_STATE_NULL && state != GST_STATE_READY) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_STATE,
                    "The address cannot change while the source plays");
        return FALSE;
    }
    auto resource = norv::res::resourceOfUrl(uri ? uri : "");
    if (!resource) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI,
                    "The program has no resource at %s", uri ? uri : "(none)");
        return FALSE;
    }
    if (self->bytes)
        g_bytes_unref(self->bytes);
    self->bytes = g_bytes_new(resource->data.data(), resource->data.size());
    g_free(self->uri);
    self->uri = g_strdup(uri);
    return TRUE;
}

void norv_resource_src_uri_init(gpointer iface, gpointer) {
    auto* uri = static_cast<GstURIHandlerInterface*>(iface);
    uri->get_type = uriType;
    uri->get_protocols = protocols;
    uri->get_uri = getUri;
    uri->set_uri = setUri;
}

} // namespace

namespace norv::host {

bool registerResourceMediaSource() {
    static const bool registered = gst_element_register(
        nullptr, "norvresourcesrc", GST_RANK_PRIMARY, norv_resource_src_get_type());
    return registered;
}

} // namespace norv::host
