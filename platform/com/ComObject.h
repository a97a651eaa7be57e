#pragma once
// ComObject: the reference counting and QueryInterface of a native class, with optional
// aggregation.
//
//   class TaviHost final : public ComObject<TaviHost, ITaviHost> { ... };
//   ComPtr<TaviHost> host = makeObject<TaviHost>();
//
// QueryInterface answers IUnknown and every interface listed, with each one's Base chain
// (so ITaviHost also answers IDispatch). A class may answer more by overriding
// queryExtraInterface.
//
// Aggregation: an object created with an outer unknown (createAggregated) delegates
// AddRef, Release and QueryInterface of all its interfaces to the outer object; only its
// inner (non-delegating) unknown, which the outer object holds, counts its own lifetime.

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

namespace norv::com {

namespace detail {
template <class I>
bool interfaceChainHas(const IID& iid) {
    if (I::iid == iid)
        return true;
    if constexpr (!std::is_void_v<typename I::Base>)
        return interfaceChainHas<typename I::Base>(iid);
    return false;
}

// The interface a base class of an object stands for: the class itself, or for an
// implementation helper (such as DispatchImpl<I>) the interface it names as `Interface`.
template <class T>
struct InterfaceOf {
    using type = T;
};
template <class T>
requires requires {
    typename T::Interface;
}
struct InterfaceOf<T> {
    using type = typename T::Interface;
};

template <class Self, class First, class... Rest>
void* findInterface(Self* self, const IID& iid) {
    if (interfaceChainHas<First>(iid))
        return static_cast<typename InterfaceOf<First>::type*>(static_cast<First*>(self));
    if constexpr (sizeof...(Rest) > 0)
        return findInterface<Self, Rest...>(self, iid);
    return nullptr;
}
} // namespace detail

template <class Derived, Interface First, Interface... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() : inner_(this) {}
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(const IID& iid, void** out) override {
        if (outer_)
            return outer_->QueryInterface(iid, out);
        return queryOwn(iid, out);
    }
    std::uint32_t AddRef() override { return outer_ ? outer_->AddRef() : inner_.AddRef(); }
    std::uint32_t Release() override { return outer_ ? outer_->Release() : inner_.Release(); }

    // The object's own IUnknown (the first interface's).
    IUnknown* unknown() { return static_cast<First*>(this); }
    // The non-delegating unknown; equal to unknown() semantics when not aggregated.
    IUnknown* innerUnknown() { return &inner_; }
    // The controlling unknown: the outer object when aggregated, else this object.
    IUnknown* controllingUnknown() { return outer_ ? outer_ : unknown(); }
    bool isAggregated() const { return outer_ != nullptr; }

    // Creates an instance for a class factory: with an outer unknown only IUnknown may be
    // asked for (CLASS_E_NOAGGREGATION otherwise) and the inner unknown is returned.
    template <class... Args>
    static HRESULT createInstance(IUnknown* outer, const IID& iid, void** out, Args&&... args) {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer && iid != IUnknown::iid)
            return CLASS_E_NOAGGREGATION;
        ComPtr<Derived> obj = makeObject<Derived>(std::forward<Args>(args)...);
        if (outer) {
            obj->outer_ = outer;
            // Hand the inner unknown out with the single reference the object holds.
            *out = static_cast<IUnknown*>(&obj->inner_);
            static_cast<void>(obj.detach());
            return S_OK;
        }
        return obj->QueryInterface(iid, out);
    }

protected:
    virtual ~ComObject() = default;

    // Answers interfaces beyond those listed (for example from an aggregated inner object).
    // Must AddRef what it hands out.
    virtual HRESULT queryExtraInterface(const IID& /*iid*/, void** /*out*/) {
        return E_NOINTERFACE;
    }

    std::uint32_t refCount() const { return inner_.count.load(); }

private:
    HRESULT queryOwn(const IID& iid, void** out) {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IUnknown::iid) {
            *out = unknown();
        } else if (void* p = detail::findInterface<ComObject, First, Rest...>(this, iid)) {
            *out = p;
        } else {
            return queryExtraInterface(iid, out);
        }
        AddRef();
        return S_OK;
    }

    struct Inner final : IUnknown {
        explicit Inner(ComObject* o) : owner(o) {}
        HRESULT QueryInterface(const IID& iid, void** out) override {
            if (out == nullptr)
                return E_POINTER;
            if (iid == IUnknown::iid) {
                *out = this;
                AddRef();
                return S_OK;
            }
            return owner->queryOwn(iid, out);
        }
        std::uint32_t AddRef() override { return ++count; }
        std::uint32_t Release() override {
            std::uint32_t left = --count;
            if (left == 0) {
                // Keep the count above zero while the destructor runs, so that references
                // taken and given back during destruction (for example by an outer object
                // releasing an aggregated interface) cannot destroy the object twice.
                count = 1;
                delete static_cast<Derived*>(owner);
            }
            return left;
        }
        ComObject* owner;
        std::atomic<std::uint32_t> count{1};
    };

    Inner inner_;
    IUnknown* outer_ = nullptr; // not counted: the outer object owns us
};

// An interface of an aggregated inner object, held by its outer object.
//
// Querying the inner object adds a reference to the outer object (the inner object's
// interfaces delegate to it), which would keep the outer object alive forever. So, as
// COM's aggregation rules require, the holder gives that reference back to the outer
// object right after the query, and takes one again just before it releases the
// interface. The inner unknown itself is held with an ordinary ComPtr<IUnknown>.
template <Interface I>
class InnerInterface {
public:
    InnerInterface() = default;
    InnerInterface(const InnerInterface&) = delete;
    InnerInterface& operator=(const InnerInterface&) = delete;
    ~InnerInterface() { reset(); }

    // Queries `inner` (the inner object's non-delegating unknown) for I.
    HRESULT query(IUnknown* outer, IUnknown* inner) {
        reset();
        if (outer == nullptr || inner == nullptr)
            return E_POINTER;
        void* p = nullptr;
        HRESULT hr = inner->QueryInterface(I::iid, &p);
        if (failed(hr))
            return hr;
        outer_ = outer;
        p_ = static_cast<I*>(p);
        outer_->Release();
        return S_OK;
    }
    void reset() {
        if (p_ == nullptr)
            return;
        outer_->AddRef();
        std::exchange(p_, nullptr)->Release();
    }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    IUnknown* outer_ = nullptr;
    I* p_ = nullptr;
};

} // namespace norv::com
