#include "platform/media/AttributeStore.h"

#include <algorithm>

#include "platform/com/ComObject.h"

namespace norv::platform::media {

HRESULT AttributeStore::getItem(const GUID& key, Variant* value) const {
    if (value == nullptr)
        return E_POINTER;
    Variant copy;
    {
        std::lock_guard guard(lock_);
        auto it = std::find_if(items_.begin(), items_.end(),
                               [&](const auto& item) { return item.first == key; });
        if (it == items_.end())
            return E_INVALIDARG;
        copy = it->second;
    }
    *value = std::move(copy);
    return S_OK;
}

HRESULT AttributeStore::setItem(const GUID& key, const Variant& value) {
    Variant old; // released after the lock is let go
    std::lock_guard guard(lock_);
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const auto& item) { return item.first == key; });
    if (it == items_.end()) {
        items_.emplace_back(key, value);
    } else {
        old = std::move(it->second);
        it->second = value;
    }
    return S_OK;
}

HRESULT AttributeStore::deleteItem(const GUID& key) {
    Variant old;
    std::lock_guard guard(lock_);
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const auto& item) { return item.first == key; });
    if (it != items_.end()) {
        old = std::move(it->second);
        items_.erase(it);
    }
    return S_OK;
}

HRESULT AttributeStore::deleteAllItems() {
    std::vector<std::pair<GUID, Variant>> old;
    std::lock_guard guard(lock_);
    old.swap(items_);
    return S_OK;
}

HRESULT AttributeStore::getCount(std::uint32_t* count) const {
    if (count == nullptr)
        return E_POINTER;
    std::lock_guard guard(lock_);
    *count = static_cast<std::uint32_t>(items_.size());
    return S_OK;
}

HRESULT AttributeStore::getItemByIndex(std::uint32_t index, GUID* key, Variant* value) const {
    if (key == nullptr)
        return E_POINTER;
    Variant copy;
    {
        std::lock_guard guard(lock_);
        if (index >= items_.size())
            return E_INVALIDARG;
        *key = items_[index].first;
        copy = items_[index].second;
    }
    if (value)
        *value = std::move(copy);
    return S_OK;
}

HRESULT AttributeStore::getUnknown(const GUID& key, const IID& iid, void** out) const {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    Variant value;
    HRESULT hr = getItem(key, &value);
    if (failed(hr))
        return hr;
    if (value.vt() != VT_UNKNOWN && value.vt() != VT_DISPATCH)
        return DISP_E_TYPEMISMATCH; // the value is not an object
    if (value.unknown() == nullptr)
        return E_NOINTERFACE;
    return value.unknown()->QueryInterface(iid, out);
}

HRESULT AttributeStore::setUnknown(const GUID& key, IUnknown* value) {
    return setItem(key, Variant::fromUnknown(value));
}

namespace {
class Attributes final : public ComObject<Attributes, IAttributes> {
public:
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

private:
    AttributeStore store_;
};
} // namespace

ComPtr<IAttributes> createAttributeStore() {
    return makeObject<Attributes>();
}

} // namespace norv::platform::media
