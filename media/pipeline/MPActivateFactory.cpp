#include "media/pipeline/MPActivateFactory.h"

#include <glib.h>

#include <algorithm>
#include <mutex>

#include "media/pipeline/MPActivateWrapper.h"

namespace norv::media {

using namespace com;
using platform::media::CLSID_MediaActivate;

namespace {

struct HookList {
    std::mutex lock;
    std::vector<ComPtr<IActivationHook>> hooks;
    // The references the hooks hold on the factory, one per hook that got one.
    std::vector<std::pair<IActivationHook*, ComPtr<IClassFactory>>> slotReferences;
};

HookList& hookList() {
    static HookList* list = new HookList(); // lives as long as the process
    return *list;
}

} // namespace

void MPActivateFactory::registerHook(IActivationHook* hook) {
    if (hook == nullptr)
        return;
    ComPtr<IClassFactory> reference;
    if (failed(acquire(CLSID_MediaActivate, reference)))
        g_warning("the player's activations cannot be intercepted; its audio is not tapped");
    HookList& list = hookList();
    std::lock_guard lock(list.lock);
    list.hooks.emplace_back(hook);
    if (reference)
        list.slotReferences.emplace_back(hook, std::move(reference));
}

void MPActivateFactory::unregisterHook(IActivationHook* hook) {
    ComPtr<IActivationHook> removed;
    ComPtr<IClassFactory> reference; // given back after the lock is let go
    HookList& list = hookList();
    {
        std::lock_guard lock(list.lock);
        auto it = std::find(list.hooks.begin(), list.hooks.end(), ComPtr<IActivationHook>(hook));
        if (it != list.hooks.end()) {
            removed = std::move(*it);
            list.hooks.erase(it);
        }
        auto ref = std::find_if(list.slotReferences.begin(), list.slotReferences.end(),
                                [&](const auto& r) { return r.first == hook; });
        if (ref != list.slotReferences.end()) {
            reference = std::move(ref->second);
            list.slotReferences.erase(ref);
        }
    }
}

std::vector<ComPtr<IActivationHook>> MPActivateFactory::hooks() {
    HookList& list = hookList();
    std::lock_guard lock(list.lock);
    return list.hooks;
}

HRESULT MPActivateFactory::CreateInstance(IUnknown* outer, const IID& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) {
        // An object aggregated by someone else belongs to its outer object: it is not
        // wrapped.
        return withoutRegistration(registrationFlags, [&] {
            return com::createInstance(clsid(), outer, CLSCTX_INPROC, iid, out);
        });
    }
    ComPtr<MPActivateWrapper> wrapper = makeObject<MPActivateWrapper>();
    ComPtr<IUnknown> real;
    bool aggregated = false;
    HRESULT hr = withoutRegistration(registrationFlags, [&] {
        HRESULT r = com::createInstance(clsid(), wrapper->unknown(), CLSCTX_INPROC, IUnknown::iid,
                                        real.putVoid());
        if (succeeded(r) && real) {
            aggregated = true;
            return r;
        }
        return com::createInstance(clsid(), nullptr, CLSCTX_INPROC, iid, real.putVoid());
    });
    if (failed(hr))
        return hr;
    hr = wrapper->setReal(real.get(), aggregated);
    if (failed(hr))
        return hr;
    return wrapper->QueryInterface(iid, out);
}

} // namespace norv::media
