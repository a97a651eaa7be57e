#include "media/pipeline/MPTapElement.h"

#include <gst/base/gstbasetransform.h>

#include <mutex>
#include <new>

#include "media/pipeline/RawFormat.h"

namespace norv::media {

namespace {

struct TapState {
    std::mutex lock;
    std::shared_ptr<MPTapElement::Client> client;

    std::shared_ptr<MPTapElement::Client> get() {
        std::lock_guard guard(lock);
        return client;
    }
};

struct TapElement {
    GstBaseTransform parent;
    TapState* state; // made in instance_init, deleted in finalize
};

struct TapElementClass {
    GstBaseTransformClass parent_class;
};

GstBaseTransformClass* parentClass = nullptr;

TapElement* self(gpointer p) {
    return reinterpret_cast<TapElement*>(p);
}

gboolean setCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* /*outcaps*/) {
    if (auto client = self(trans)->state->get())
        client->tapCaps(incaps);
    return TRUE;
}

GstFlowReturn transformIp(GstBaseTransform* trans, GstBuffer* buffer) {
    if (auto client = self(trans)->state->get())
        client->tapBuffer(buffer, trans->segment);
    return GST_FLOW_OK;
}

gboolean sinkEvent(GstBaseTransform* trans, GstEvent* event) {
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_START:
        if (auto client = self(trans)->state->get())
            client->tapInterrupt();
        break;
    case GST_EVENT_FLUSH_STOP:
        if (auto client = self(trans)->state->get())
            client->tapResume();
        break;
    default:
        break;
    }
    return parentClass->sink_event(trans, event);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        if (auto client = self(element)->state->get())
            client->tapInterrupt();
    GstStateChangeReturn r = GST_ELEMENT_CLASS(parentClass)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        if (auto client = self(element)->state->get())
            client->tapResume();
    return r;
}

void finalize(GObject* object) {
    delete self(object)->state;
    G_OBJECT_CLASS(parentClass)->finalize(object);
}

void instanceInit(GTypeInstance* instance, gpointer /*klass*/) {
    auto* tap = self(instance);
    tap->state = new TapState();
    gst_base_transform_set_in_place(&tap->parent, TRUE);
    gst_base_transform_set_passthrough(&tap->parent, FALSE);
}

struct KindInfo {
    const char* typeName;
    const char* longName;
    const char* caps;
};
const KindInfo audioKind{"NorvMPAudioTap", "Audio stream tap", RawFormat::audioCaps};
const KindInfo videoKind{"NorvMPVideoTap", "Video stream tap", RawFormat::videoCaps};

void classInit(gpointer klass, gpointer data) {
    const auto* kind = static_cast<const KindInfo*>(data);
    parentClass = static_cast<GstBaseTransformClass*>(g_type_class_peek_parent(klass));
    auto* gobjectClass = G_OBJECT_CLASS(klass);
    gobjectClass->finalize = finalize;
    auto* elementClass = GST_ELEMENT_CLASS(klass);
    elementClass->change_state = changeState;
    GstCaps* caps = gst_caps_from_string(kind->caps);
    gst_element_class_add_pad_template(
        elementClass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(
        elementClass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    gst_element_class_set_static_metadata(elementClass, kind->longName, "Filter",
                                          "Shows every buffer to the program's stream filters",
                                          "Norv View");
    auto* transformClass = static_cast<GstBaseTransformClass*>(klass);
    transformClass->set_caps = setCaps;
    transformClass->transform_ip = transformIp;
    transformClass->sink_event = sinkEvent;
}

GType registerKind(const KindInfo& kind) {
    GTypeInfo info{};
    info.class_size = sizeof(TapElementClass);
    info.class_init = classInit;
    info.class_data = &kind;
    info.instance_size = sizeof(TapElement);
    info.instance_init = instanceInit;
    return g_type_register_static(GST_TYPE_BASE_TRANSFORM, kind.typeName, &info, GTypeFlags{});
}

GType typeOf(typelib::MPStreamType kind) {
    static const GType audio = registerKind(audioKind);
    static const GType video = registerKind(videoKind);
    return kind == typelib::mpsVideo ? video : audio;
}

} // namespace

GstElement* MPTapElement::create(typelib::MPStreamType kind, std::shared_ptr<Client> client,
                                 const char* name) {
    auto* element = GST_ELEMENT(g_object_new(typeOf(kind), "name", name, nullptr));
    setClient(element, std::move(client));
    return element;
}

void MPTapElement::setClient(GstElement* element, std::shared_ptr<Client> client) {
    if (!isTap(element))
        return;
    TapState& state = *self(element)->state;
    std::shared_ptr<Client> old; // released after the lock is let go
    std::lock_guard guard(state.lock);
    old = std::exchange(state.client, std::move(client));
}

bool MPTapElement::isTap(GstElement* element) {
    return element != nullptr && (G_TYPE_CHECK_INSTANCE_TYPE(element, typeOf(typelib::mpsAudio)) ||
                                  G_TYPE_CHECK_INSTANCE_TYPE(element, typeOf(typelib::mpsVideo)));
}

} // namespace norv::media
