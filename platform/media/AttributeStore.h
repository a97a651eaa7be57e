#pragma once
// AttributeStore: the values of an attribute store (IAttributes) by GUID key, in the
// order they were first set, guarded by a lock of its own. Objects that answer IAttributes
// (activation objects, say) keep one and pass the interface's calls on to it.

#include <mutex>
#include <utility>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::platform::media {

class AttributeStore {
public:
    HRESULT getItem(const GUID& key, Variant* value) const;
    HRESULT setItem(const GUID& key, const Variant& value);
    HRESULT deleteItem(const GUID& key);
    HRESULT deleteAllItems();
    HRESULT getCount(std::uint32_t* count) const;
    HRESULT getItemByIndex(std::uint32_t index, GUID* key, Variant* value) const;
    HRESULT getUnknown(const GUID& key, const IID& iid, void** out) const;
    HRESULT setUnknown(const GUID& key, IUnknown* value);

private:
    mutable std::mutex lock_;
    std::vector<std::pair<GUID, Variant>> items_;
};

// A free-standing attribute store object.
ComPtr<IAttributes> createAttributeStore();

} // namespace norv::platform::media
