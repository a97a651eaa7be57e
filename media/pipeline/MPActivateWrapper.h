#pragma once
// MPActivateWrapper: an activation object of the player (IActivate) wrapped by the
// program. The real object is aggregated inside the wrapper when it allows it; its
// attribute methods, ShutdownObject and DetachObject are passed on unchanged (OLE_E_BLANK
// without a real object), and every interface the wrapper does not answer itself comes
// from the real object. ActivateObject first offers the request to the activation hooks
// (MPActivateFactory) in order, handing them the real object, and takes the first object
// a hook produces; when none does, the real ActivateObject answers.

#include "platform/com/ComObject.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::media {

class MPActivateWrapper final
    : public com::ComObject<MPActivateWrapper, platform::media::IActivate> {
public:
    // Takes the real object: `real` is its inner unknown when `aggregated` (made with this
    // wrapper as its outer object), else an ordinary reference.
    com::HRESULT setReal(com::IUnknown* real, bool aggregated);

    // IAttributes
    com::HRESULT GetItem(const com::GUID& key, com::Variant* value) override;
    com::HRESULT SetItem(const com::GUID& key, const com::Variant& value) override;
    com::HRESULT DeleteItem(const com::GUID& key) override;
    com::HRESULT DeleteAllItems() override;
    com::HRESULT GetCount(std::uint32_t* count) override;
    com::HRESULT GetItemByIndex(std::uint32_t index, com::GUID* key, com::Variant* value) override;
    com::HRESULT GetUnknown(const com::GUID& key, const com::IID& iid, void** out) override;
    com::HRESULT SetUnknown(const com::GUID& key, com::IUnknown* value) override;

    // IActivate
    com::HRESULT ActivateObject(const com::IID& iid, void** out) override;
    com::HRESULT ShutdownObject() override;
    com::HRESULT DetachObject() override;

protected:
    com::HRESULT queryExtraInterface(const com::IID& iid, void** out) override;

private:
    platform::media::IActivate* real() const;

    com::ComPtr<com::IUnknown> realUnknown_;
    com::InnerInterface<platform::media::IActivate> aggregated_;
    com::ComPtr<platform::media::IActivate> plain_;
};

} // namespace norv::media
