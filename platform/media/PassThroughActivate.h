#pragma once
// PassThroughActivate: the platform's own class of the control's activation objects
// (CLSID_MediaActivate). Activated for IAudioTransform it gives a transform whose element
// passes every buffer on unchanged (in place). A program that registers its own class for
// the identifier gets asked instead; it may create this one aggregated and wrap it.

#include <mutex>

#include "platform/com/ComObject.h"
#include "platform/media/AttributeStore.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::platform::media {

class PassThroughActivate final : public ComObject<PassThroughActivate, IActivate> {
public:
    // IAttributes
    HRESULT GetItem(const GUID& key, Variant* value) override { return store_.getItem(key, value); }
    HRESULT SetItem(const GUID& key, const Variant& value) override {
        return store_.setItem(key, value);
    }
    HRESULT DeleteItem(const GUID& key) override { return store_.deleteItem(key); }
    HRESULT DeleteAllItems() override { return store_.deleteAllItems(); }
    HRESULT GetCount(std::uint32_t* count) override { return store_.getCount(count); }
    HRESULT GetItemByIndex(std::uint32_t index, GUID* key, Variant* value) override {
        return store_.getItemByIndex(index, key, value);
    }
    HRESULT GetUnknown(const GUID& key, const IID& iid, void** out) override {
        return store_.getUnknown(key, iid, out);
    }
    HRESULT SetUnknown(const GUID& key, IUnknown* value) override {
        return store_.setUnknown(key, value);
    }

    // IActivate
    HRESULT ActivateObject(const IID& iid, void** out) override;
    HRESULT ShutdownObject() override;
    HRESULT DetachObject() override;

private:
    AttributeStore store_;
    std::mutex lock_;
    ComPtr<IAudioTransform> object_;
};

} // namespace norv::platform::media
