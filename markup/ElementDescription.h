#pragma once
// ElementDescription: one page element of a declaration bound by a CSS selector, with the
// class to give it and whether it may be missing. TitleDescription builds on the same
// members.

#include <mutex>
#include <new>

#include "markup/IWindowDescription.h"
#include "platform/com/ComObject.h"

namespace norv::markup {

// The member a setter changed, as the change hook receives it.
enum class DescriptionMember {
    cssSelector,
    cssClass,
    optional,
    caption,
    buttonClose,
    buttonMinimize,
    type,
    isApplicationWindow,
    isMinimizedBox,
    isMaximizedBox,
    isResizable,
    isAlwaysOnTop,
    isFullScreen,
    clientWidth,
    clientHeight,
    title,
};

// The three members every bound element has, for any interface derived from
// IElementDescription. Each object has its own recursive lock.
template <class Derived, class Interface>
class ElementDescriptionBase : public com::ComObject<Derived, Interface> {
public:
    com::HRESULT get_cssSelector(com::Bstr* out) override { return getText(cssSelector_, out); }
    com::HRESULT put_cssSelector(const com::Bstr& value) override {
        return putText(cssSelector_, value, DescriptionMember::cssSelector);
    }
    com::HRESULT get_cssClass(com::Bstr* out) override { return getText(cssClass_, out); }
    com::HRESULT put_cssClass(const com::Bstr& value) override {
        return putText(cssClass_, value, DescriptionMember::cssClass);
    }
    com::HRESULT get_optional(com::VARIANT_BOOL* out) override {
        if (out == nullptr)
            return com::E_POINTER;
        std::lock_guard lock(mutex_);
        *out = optional_ ? com::VARIANT_TRUE : com::VARIANT_FALSE;
        return com::S_OK;
    }
    com::HRESULT put_optional(com::VARIANT_BOOL value) override {
        {
            std::lock_guard lock(mutex_);
            optional_ = value == com::VARIANT_TRUE;
        }
        onChanged(DescriptionMember::optional);
        return com::S_OK;
    }

protected:
    // Called after every setter with the member it changed; does nothing here.
    virtual void onChanged(DescriptionMember /*member*/) {}

    std::recursive_mutex mutex_;

private:
    com::HRESULT getText(const com::Bstr& member, com::Bstr* out) {
        if (out == nullptr)
            return com::E_POINTER;
        try {
            std::lock_guard lock(mutex_);
            *out = com::Bstr(member.view());
        } catch (const std::bad_alloc&) {
            return com::E_OUTOFMEMORY;
        }
        return com::S_OK;
    }
    com::HRESULT putText(com::Bstr& member, const com::Bstr& value, DescriptionMember which) {
        try {
            com::Bstr copy(value.view()); // an absent text becomes empty
            std::lock_guard lock(mutex_);
            member = std::move(copy);
        } catch (const std::bad_alloc&) {
            return com::E_OUTOFMEMORY;
        }
        onChanged(which);
        return com::S_OK;
    }

    com::Bstr cssSelector_ = com::Bstr::empty();
    com::Bstr cssClass_ = com::Bstr::empty();
    bool optional_ = false;
};

class ElementDescription final
    : public ElementDescriptionBase<ElementDescription, IElementDescription> {};

} // namespace norv::markup
