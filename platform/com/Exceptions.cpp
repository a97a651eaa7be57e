#include "platform/com/Exceptions.h"

#include <cstdio>
#include <new>

#include "platform/com/Bstr.h"

namespace norv::com {

namespace {
// Longest description published by the entry-point guard, in UTF-16 units.
constexpr std::size_t maxDescription = 256;

std::u16string cutDescription(const std::u16string& text) {
    if (text.size() <= maxDescription)
        return text;
    std::size_t n = maxDescription;
    // Never leave half of a surrogate pair at the end.
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
        --n;
    return text.substr(0, n);
}
} // namespace

const char* FrameworkException::what() const noexcept {
    try {
        if (utf8_.empty())
            utf8_ = utf16ToUtf8(message_);
        return utf8_.c_str();
    } catch (...) {
        return "framework exception";
    }
}

OleException::OleException(HRESULT hr) : FrameworkException(messageForHResult(hr)), hr_(hr) {}

HRESULT DispatchException::hresult() const {
    // The window host's own code 1001, and any code that is not a failing HRESULT, is E_FAIL.
    if (code_ < 0 && code_ >= INT32_MIN)
        return static_cast<HRESULT>(code_);
    return E_FAIL;
}

MemoryException::MemoryException() : FrameworkException(u"Out of memory.") {}
InvalidArgException::InvalidArgException()
    : FrameworkException(u"Encountered an improper argument.") {}
NotSupportedException::NotSupportedException()
    : FrameworkException(u"Attempted an unsupported operation.") {}

void throwIfFailed(HRESULT hr) {
    if (succeeded(hr))
        return;
    std::optional<ErrorInfo> info = takeErrorInfo();
    if (info && !info->description.isEmpty())
        throw DispatchException(info->description.str(), hr);
    if (hr == E_OUTOFMEMORY)
        throw MemoryException();
    throw OleException(hr);
}

std::u16string messageForHResult(HRESULT hr) {
    if (auto text = systemMessageForHResult(hr))
        return *text;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%08X", static_cast<unsigned>(hr));
    return utf8ToUtf16(buffer);
}

std::optional<std::u16string> systemMessageForHResult(HRESULT hr) {
    switch (hr) {
    case S_OK:
        return u"The operation completed successfully.";
    case E_UNEXPECTED:
        return u"Catastrophic failure";
    case E_NOTIMPL:
        return u"Not implemented";
    case E_NOINTERFACE:
        return u"No such interface supported";
    case E_POINTER:
        return u"Invalid pointer";
    case E_ABORT:
        return u"Operation aborted";
    case E_FAIL:
        return u"Unspecified error";
    case E_ACCESSDENIED:
        return u"Access is denied.";
    case E_HANDLE:
        return u"The handle is invalid.";
    case E_OUTOFMEMORY:
        return u"Not enough memory resources are available to complete this operation.";
    case E_INVALIDARG:
        return u"The parameter is incorrect.";
    case OLE_E_BLANK:
        return u"Uninitialized object";
    case CLASS_E_NOAGGREGATION:
        return u"Class does not support aggregation (or class object is remote)";
    case CLASS_E_CLASSNOTAVAILABLE:
        return u"ClassFactory cannot supply requested class";
    case REGDB_E_CLASSNOTREG:
        return u"Class not registered";
    case DISP_E_UNKNOWNINTERFACE:
        return u"Unknown interface.";
    case DISP_E_MEMBERNOTFOUND:
        return u"Member not found.";
    case DISP_E_PARAMNOTFOUND:
        return u"Parameter not found.";
    case DISP_E_TYPEMISMATCH:
        return u"Type mismatch.";
    case DISP_E_UNKNOWNNAME:
        return u"Unknown name.";
    case DISP_E_NONAMEDARGS:
        return u"No named arguments.";
    case DISP_E_BADVARTYPE:
        return u"Bad variable type.";
    case DISP_E_EXCEPTION:
        return u"Exception occurred.";
    case DISP_E_OVERFLOW:
        return u"Out of present range.";
    case DISP_E_BADINDEX:
        return u"Invalid index.";
    case DISP_E_BADPARAMCOUNT:
        return u"Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL:
        return u"Parameter not optional.";
    case TYPE_E_ELEMENTNOTFOUND:
        return u"Element not found.";
    case TYPE_E_TYPEMISMATCH:
        return u"Type mismatch.";
    case NTE_NOT_FOUND:
        return u"Object was not found.";
    case NTE_NOT_SUPPORTED:
        return u"The requested operation is not supported.";
    default:
        break;
    }
    switch (hr) {
    case hresultFromWin32(ERROR_FILE_NOT_FOUND):
        return u"The system cannot find the file specified.";
    case hresultFromWin32(ERROR_PATH_NOT_FOUND):
        return u"The system cannot find the path specified.";
    case hresultFromWin32(ERROR_NOT_SUPPORTED):
        return u"The request is not supported.";
    case hresultFromWin32(ERROR_FILE_EXISTS):
        return u"The file exists.";
    case hresultFromWin32(ERROR_DISK_FULL):
        return u"There is not enough space on the disk.";
    case hresultFromWin32(ERROR_GEN_FAILURE):
        return u"A device attached to the system is not functioning.";
    case hresultFromWin32(ERROR_NOT_FOUND):
        return u"Element not found.";
    case hresultFromWin32(ERROR_TIMEOUT):
        return u"This operation returned because the timeout period expired.";
    default:
        break;
    }
    return std::nullopt;
}

HRESULT reportException(const IID& iid, std::exception_ptr error) {
    HRESULT hr = E_FAIL;
    try {
        std::u16string message;
        try {
            std::rethrow_exception(error);
        } catch (const FrameworkException& e) {
            hr = e.hresult();
            message = e.message();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
            message = MemoryException().message();
        } catch (const std::exception& e) {
            hr = E_FAIL;
            message = utf8ToUtf16(e.what());
        } catch (...) {
            hr = E_FAIL;
            message = messageForHResult(E_FAIL);
        }
        setErrorInfo(ErrorInfo{Bstr(cutDescription(message)), iid, Bstr()});
    } catch (...) {
        // Out of memory while publishing: the HRESULT alone must still get through.
        clearErrorInfo();
    }
    return hr;
}

} // namespace norv::com
