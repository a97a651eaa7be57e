#pragma once
// What the window model of a host window asks of the host window it belongs to.

#include <string_view>
#include <utility>

namespace norv::host {

class WindowHooks {
public:
    // A new top-level document is loading; its declaration is applied when it completes.
    virtual bool isLayoutPending() const = 0;
    // Sizes the window to the client size its declaration asks for (done when the window
    // leaves screen mode).
    virtual void sizeToDeclaration() = 0;
    // The declared client width and height; -1 for one that cannot be read.
    virtual std::pair<int, int> declaredClientSize() = 0;
    // A mouse drag moved ("moved") or resized ("resized") the window: the native window's
    // listeners hear of it. They run page script, which may close the window: the model
    // does nothing after this call.
    virtual void fireWindowEvent(std::u16string_view type) = 0;
    // A mouse drag that held the pointer grab ended and let it go (before any event).
    virtual void dragEnded() {}

protected:
    ~WindowHooks() = default;
};

} // namespace norv::host
