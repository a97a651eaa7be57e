#pragma once
// An owning, reference-counting smart pointer for COM interfaces.

#include <cstddef>
#include <utility>

#include "platform/com/Unknown.h"

namespace norv::com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference to p.
    ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
        : ComPtr(static_cast<T*>(other.get())) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) {
        ComPtr(p).swap(*this);
        return *this;
    }

    // Takes over a reference the caller already owns (no AddRef).
    static ComPtr adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Gives the reference to the caller (no Release).
    [[nodiscard]] T* detach() { return std::exchange(p_, nullptr); }
    // Hands a new reference out through an out-pointer, as COM getters do.
    HRESULT copyTo(T** out) const {
        if (out == nullptr)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases the current pointer and returns the slot for an out-parameter.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    // QueryInterface into another smart pointer.
    template <Interface U>
    HRESULT as(ComPtr<U>& out) const {
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(U::iid, out.putVoid());
    }
    template <Interface U>
    ComPtr<U> as() const {
        ComPtr<U> r;
        if (p_)
            p_->QueryInterface(U::iid, r.putVoid());
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

// Creates an object of class C (which must derive from ComObject) and returns it as T.
template <class C, class... Args>
ComPtr<C> makeObject(Args&&... args) {
    return ComPtr<C>::adopt(new C(std::forward<Args>(args)...));
}

// COM identity: the IUnknown of both objects is the same pointer.
bool sameObject(IUnknown* a, IUnknown* b);

} // namespace norv::com
