#pragma once
// ISupportErrorInfo: tells a caller whether the thread's error information after a failed
// call of an interface describes that failure.

#include "platform/com/Unknown.h"

namespace norv::com {

struct ISupportErrorInfo : IUnknown {
    static constexpr IID iid = guid("{DF0B3D60-548F-101B-8E65-08002B2BC119}");
    using Base = IUnknown;

    // S_OK when the interface publishes error information, S_FALSE otherwise.
    virtual HRESULT InterfaceSupportsErrorInfo(const IID& iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

} // namespace norv::com
