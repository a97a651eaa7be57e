#pragma once
// The host window that `run` drives: the window that hosts the browser on the startup
// address. `run` configures it, in this order, before asking it to create itself under the
// owner window; once created it lives until its window is destroyed, and then posts the
// quit message that ends the loop of `run`.

#include <memory>
#include <string>

#include "platform/com/Bstr.h"

namespace norv::app {

class OwnerWindow;

class HostWindow {
public:
    virtual ~HostWindow() = default;

    virtual void navigate(const std::u16string& address) = 0;
    // Whether the window itself exists already (after createWithOwner).
    virtual bool windowExists() const = 0;
    // The caption shown once the window exists.
    virtual void setPendingCaption(const std::u16string& caption) = 0;
    virtual void setWindowText(const std::u16string& caption) = 0;
    // The declaration used for pages that declare no window of their own.
    virtual void setDefaultDeclaration(const com::Bstr& declaration) = 0;
    // "default", or the key path under which the browser keeps its settings.
    virtual void setOptionKeyPath(const std::u16string& path) = 0;
    // Whether the first page is preceded by the splash page.
    virtual void setSplash(bool splash) = 0;
    // Creates the window with `owner` as its owner. Afterwards the object belongs to its
    // window: `self` must be this object, and it is destroyed with the window.
    virtual void createWithOwner(std::unique_ptr<HostWindow> self, OwnerWindow& owner) = 0;
};

} // namespace norv::app
