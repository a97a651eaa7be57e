#include "platform/media/PassThroughActivate.h"

#include "platform/media/GstRef.h"

namespace norv::platform::media {

namespace {
// An in-place element that hands every buffer on as it came.
class PassThroughTransform final : public ComObject<PassThroughTransform, IAudioTransform> {
public:
    PassThroughTransform()
        : element_(GstRef<GstElement>::sink(gst_element_factory_make("identity", nullptr))) {
        if (element_)
            g_object_set(element_.get(), "silent", TRUE, nullptr);
    }
    HRESULT GetElement(GstElement** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!element_)
            return E_FAIL;
        *out = GST_ELEMENT(gst_object_ref(element_.get()));
        return S_OK;
    }
    bool valid() const { return static_cast<bool>(element_); }

private:
    GstRef<GstElement> element_;
};
} // namespace

HRESULT PassThroughActivate::ActivateObject(const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IAudioTransform> object;
    {
        std::lock_guard guard(lock_);
        if (!object_) {
            auto made = makeObject<PassThroughTransform>();
            if (!made->valid())
                return E_FAIL;
            object_ = made;
        }
        object = object_;
    }
    return object->QueryInterface(iid, out);
}

HRESULT PassThroughActivate::ShutdownObject() {
    ComPtr<IAudioTransform> old;
    std::lock_guard guard(lock_);
    old.swap(object_);
    return S_OK;
}

HRESULT PassThroughActivate::DetachObject() {
    return ShutdownObject();
}

} // namespace norv::platform::media
