#include "media/pipeline/PluginState.h"

#include <utility>

namespace norv::media {

using namespace com;

HRESULT PluginState::getId(Variant* out) const {
    if (out == nullptr)
        return E_POINTER;
    *out = Variant();
    return S_OK;
}

HRESULT PluginState::getStarted(VARIANT_BOOL* out) const {
    if (out == nullptr)
        return E_POINTER;
    *out = started() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT PluginState::getInit(Variant* out) const {
    if (out == nullptr)
        return E_POINTER;
    *out = init();
    return S_OK;
}

void PluginState::putInit(const Variant& value) {
    Variant old; // released after the lock is let go
    std::lock_guard lock(lock_);
    old = std::exchange(init_, value);
}

HRESULT PluginState::getSettings(Variant* out) const {
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard lock(lock_);
    *out = settings_;
    return S_OK;
}

void PluginState::putSettings(const Variant& value) {
    Variant old;
    std::lock_guard lock(lock_);
    old = std::exchange(settings_, value);
}

HRESULT PluginState::getServices(IDispatch** out) const {
    if (out == nullptr)
        return E_POINTER;
    return services().copyTo(out);
}

void PluginState::putServices(IDispatch* value) {
    ComPtr<IDispatch> keep(value);
    std::lock_guard lock(lock_);
    services_.swap(keep);
}

bool PluginState::started() const {
    std::lock_guard lock(lock_);
    return started_;
}

void PluginState::setStarted(bool started) {
    std::lock_guard lock(lock_);
    started_ = started;
}

ComPtr<IDispatch> PluginState::services() const {
    std::lock_guard lock(lock_);
    return services_;
}

Variant PluginState::init() const {
    std::lock_guard lock(lock_);
    return init_;
}

} // namespace norv::media
