#pragma once
// Per-thread error information: the description and interface of the last failure, which
// the script bridge turns into the thrown Error's description.

#include <optional>

#include "platform/com/Bstr.h"
#include "platform/com/Guid.h"

namespace norv::com {

struct ErrorInfo {
    Bstr description;
    IID iid = IID_NULL; // interface whose method failed
    Bstr source;
};

// Replaces the calling thread's current error information (nullopt clears it).
void setErrorInfo(std::optional<ErrorInfo> info);
// Convenience: setErrorInfo({description, iid}).
void setErrorInfo(const IID& iid, Bstr description);
// Takes the calling thread's current error information; like the platform's
// GetErrorInfo, taking it clears it.
std::optional<ErrorInfo> takeErrorInfo();
// Reads it without clearing.
const std::optional<ErrorInfo>& peekErrorInfo();
void clearErrorInfo();

} // namespace norv::com
