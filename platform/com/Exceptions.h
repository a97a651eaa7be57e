#pragma once
// The framework exceptions that carry failures inside methods, and the entry-point guard
// that turns them back into an HRESULT plus error information.

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "platform/com/ErrorInfo.h"
#include "platform/com/HResult.h"

namespace norv::com {

// Base of all framework exceptions; message() is the text shown or published.
class FrameworkException : public std::exception {
public:
    explicit FrameworkException(std::u16string message) : message_(std::move(message)) {}
    const std::u16string& message() const { return message_; }
    const char* what() const noexcept override;
    // The HRESULT an entry point returns for this exception.
    virtual HRESULT hresult() const = 0;

private:
    std::u16string message_;
    mutable std::string utf8_;
};

// An OLE exception: carries a failing HRESULT; its message is the system's text for it.
class OleException : public FrameworkException {
public:
    explicit OleException(HRESULT hr);
    OleException(HRESULT hr, std::u16string message)
        : FrameworkException(std::move(message)), hr_(hr) {}
    HRESULT hresult() const override { return hr_; }

private:
    HRESULT hr_;
};

// A dispatch exception: a code (1001 for the window host's own messages) and a text.
// Code 1001 (and any code that is not a failing HRESULT) maps to E_FAIL.
class DispatchException : public FrameworkException {
public:
    DispatchException(std::u16string message, long code = 1001)
        : FrameworkException(std::move(message)), code_(code) {}
    long code() const { return code_; }
    HRESULT hresult() const override;

private:
    long code_;
};

class MemoryException : public FrameworkException {
public:
    MemoryException();
    HRESULT hresult() const override { return E_OUTOFMEMORY; }
};

class InvalidArgException : public FrameworkException {
public:
    InvalidArgException();
    HRESULT hresult() const override { return E_INVALIDARG; }
};

class NotSupportedException : public FrameworkException {
public:
    NotSupportedException();
    HRESULT hresult() const override { return E_NOTIMPL; }
};

// Raises a failing HRESULT: when the thread's error information has a description, as a
// DispatchException carrying that text (code = hr); otherwise as an OleException.
// Does nothing for a success code.
void throwIfFailed(HRESULT hr);

// The text the system gives for an HRESULT ("Unspecified error" for E_FAIL, ...).
std::u16string messageForHResult(HRESULT hr);
// The same, but nothing for an HRESULT the system has no text for (where
// messageForHResult says "Unknown error 0x...").
std::optional<std::u16string> systemMessageForHResult(HRESULT hr);

// Publishes error information for a caught framework exception under `iid` (description
// cut to 256 characters) and returns its HRESULT. std::bad_alloc becomes E_OUTOFMEMORY;
// any other std::exception E_FAIL.
HRESULT reportException(const IID& iid, std::exception_ptr error);

// The automation entry-point guard: runs body() (which returns an HRESULT), catching every
// exception and turning it into HRESULT + error information published under `iid`.
template <class Body>
HRESULT guard(const IID& iid, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return reportException(iid, std::current_exception());
    }
}

} // namespace norv::com
