#pragma once
// IDialogHooks: what the browser's site (script errors, the engine's security questions,
// the page's own window functions) and the native window object reach of the host
// dialog. Failures are raised as framework exceptions.

#include <cstdint>

#include "platform/com/Bstr.h"
#include "platform/com/Exceptions.h"

namespace norv::host {

class IDialogHooks {
public:
    // An uncaught script error of the page; the answer says whether the page's scripts go
    // on running.
    virtual bool onScriptError(const com::Bstr& url, const com::Bstr& message, std::int32_t line,
                               std::int32_t code, std::int32_t character) = 0;
    // The policy for URL action `action`: 0 allows it, 255 leaves it to the engine.
    virtual std::uint8_t urlActionPolicy(std::uint32_t action) = 0;
    // The page's window.resizeBy and window.resizeTo (client size).
    virtual void resizeBy(std::int32_t dx, std::int32_t dy) { notImplemented(dx, dy); }
    virtual void resizeTo(std::int32_t width, std::int32_t height) {
        notImplemented(width, height);
    }
    // The page's window.moveTo and window.moveBy: not the page's to decide.
    virtual void moveTo(std::int32_t x, std::int32_t y) { notImplemented(x, y); }
    virtual void moveBy(std::int32_t dx, std::int32_t dy) { notImplemented(dx, dy); }

protected:
    ~IDialogHooks() = default;

private:
    [[noreturn]] static void notImplemented(std::int32_t, std::int32_t) {
        throw com::OleException(com::E_NOTIMPL);
    }
};

} // namespace norv::host
