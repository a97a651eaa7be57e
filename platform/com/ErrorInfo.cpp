#include "platform/com/ErrorInfo.h"

#include <utility>

namespace norv::com {

namespace {
thread_local std::optional<ErrorInfo> current;
}

void setErrorInfo(std::optional<ErrorInfo> info) {
    current = std::move(info);
}

void setErrorInfo(const IID& iid, Bstr description) {
    current = ErrorInfo{std::move(description), iid, Bstr()};
}

std::optional<ErrorInfo> takeErrorInfo() {
    return std::exchange(current, std::nullopt);
}

const std::optional<ErrorInfo>& peekErrorInfo() {
    return current;
}

void clearErrorInfo() {
    current.reset();
}

} // namespace norv::com
