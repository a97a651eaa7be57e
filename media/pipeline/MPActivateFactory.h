#pragma once
// MPActivateFactory: the program's class factory for the activation objects the player
// creates its audio transform with (CLSID_MediaActivate), and the hook list.
//
// Each player plugin registers an activation hook while it lives; the first one creates
// the factory and registers it in the class table, the last one to go takes it away again
// (RegisteredClassFactory). The factory hands the player a wrapper (MPActivateWrapper)
// around the platform's own activation object; the wrapper's ActivateObject offers the
// request to each hook in list order and takes the first object a hook produces, else the
// real activation's.

#include <vector>

#include "media/pipeline/RegisteredClassFactory.h"
#include "platform/media/PlayerHostInterfaces.h"

namespace norv::media {

// One player plugin's say in activations. A hook that leaves a request to others returns
// a failure or S_FALSE, or leaves the out-pointer null.
struct IActivationHook : com::IUnknown {
    static constexpr com::IID iid = com::guid("{287061FC-5450-40A7-A085-BB3A76B5B07E}");
    using Base = com::IUnknown;

    virtual com::HRESULT activate(platform::media::IActivate* activation, const com::IID& iid,
                                  void** out) = 0;

protected:
    ~IActivationHook() = default;
};

class MPActivateFactory final : public RegisteredClassFactory<MPActivateFactory> {
public:
    // Adds `hook` at the end of the list and takes one reference on the factory's slot
    // (registering the factory when the slot is empty; when that fails the player runs
    // without interception). UI thread.
    static void registerHook(IActivationHook* hook);
    // Takes `hook` out of the list and gives its reference on the slot back. UI thread.
    static void unregisterHook(IActivationHook* hook);
    // The hooks in order, each with its own reference.
    static std::vector<com::ComPtr<IActivationHook>> hooks();

    // IClassFactory
    com::HRESULT CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) override;
};

} // namespace norv::media
