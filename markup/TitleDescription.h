#pragma once
// TitleDescription: the page element that acts as the window's title bar, with the
// elements that act as its caption, close button and minimise button.

#include <utility>

#include "markup/ElementDescription.h"

namespace norv::markup {

class TitleDescription final : public ElementDescriptionBase<TitleDescription, ITitleDescription> {
public:
    com::HRESULT get_caption(IElementDescription** out) override { return getChild(caption_, out); }
    com::HRESULT put_caption(IElementDescription* value) override {
        return putChild(caption_, value, DescriptionMember::caption);
    }
    com::HRESULT get_buttonClose(IElementDescription** out) override {
        return getChild(buttonClose_, out);
    }
    com::HRESULT put_buttonClose(IElementDescription* value) override {
        return putChild(buttonClose_, value, DescriptionMember::buttonClose);
    }
    com::HRESULT get_buttonMinimize(IElementDescription** out) override {
        return getChild(buttonMinimize_, out);
    }
    com::HRESULT put_buttonMinimize(IElementDescription* value) override {
        return putChild(buttonMinimize_, value, DescriptionMember::buttonMinimize);
    }

private:
    using Child = com::ComPtr<IElementDescription>;

    com::HRESULT getChild(const Child& member, IElementDescription** out) {
        if (out == nullptr)
            return com::E_POINTER;
        std::lock_guard lock(mutex_);
        return member.copyTo(out);
    }
    com::HRESULT putChild(Child& member, IElementDescription* value, DescriptionMember which) {
        Child old;
        {
            std::lock_guard lock(mutex_);
            old = std::exchange(member, Child(value));
        }
        old.reset(); // the old element is dropped outside the lock
        onChanged(which);
        return com::S_OK;
    }

    Child caption_;
    Child buttonClose_;
    Child buttonMinimize_;
};

} // namespace norv::markup
