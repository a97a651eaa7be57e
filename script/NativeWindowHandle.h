#pragma once
// INativeWindowHandle: how a page window object tells which native window it stands for.
// The host's native window object (tavi.nativeWindow()) answers it; the display service
// asks it of the window object script hands in.

#include <cstdint>

#include "platform/com/Unknown.h"
#include "script/DisplayDesktop.h"

namespace norv::script {

struct INativeWindowHandle : com::IUnknown {
    static constexpr com::IID iid = com::guid("{6F1C2D3E-8B4A-4C59-9E21-7D0A3B5C4E18}");
    using Base = com::IUnknown;

    // The page's X window; S_OK with 0 while the window does not exist (yet or any more).
    virtual com::HRESULT get_nativeWindow(NativeWindow* out) = 0;

protected:
    ~INativeWindowHandle() = default;
};

} // namespace norv::script
