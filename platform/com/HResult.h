#pragma once
// Result codes of the COM runtime: the values every script, page and caller sees.

#include <cerrno>
#include <cstdint>

namespace norv::com {

using HRESULT = std::int32_t;

constexpr HRESULT hresult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}
constexpr bool succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool failed(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
constexpr HRESULT E_POINTER = hresult(0x80004003);
constexpr HRESULT E_ABORT = hresult(0x80004004);
constexpr HRESULT E_FAIL = hresult(0x80004005);
constexpr HRESULT E_ACCESSDENIED = hresult(0x80070005);
constexpr HRESULT E_HANDLE = hresult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = hresult(0x80070057);

constexpr HRESULT OLE_E_BLANK = hresult(0x80040007);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
constexpr HRESULT CO_E_OBJNOTREG = hresult(0x800401FB);
constexpr HRESULT RPC_E_DISCONNECTED = hresult(0x80010108);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hresult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = hresult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresult(0x8002000F);
constexpr HRESULT DISP_E_BUFFERTOOSMALL = hresult(0x80020013);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresult(0x8002802B);
constexpr HRESULT TYPE_E_TYPEMISMATCH = hresult(0x80028CA0);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = hresult(0x8002801D);

constexpr HRESULT CONNECT_E_NOCONNECTION = hresult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = hresult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresult(0x80040202);

// Component codes of the customer range of the interface facility.
constexpr HRESULT NORV_E_NOHTMLDOCUMENT = hresult(0x80040200);
constexpr HRESULT NORV_E_XMLNOTWELLFORMED = hresult(0x80040201);
constexpr HRESULT NORV_E_XMLBADNAMESPACE = hresult(0x80040202);
constexpr HRESULT NORV_E_XMLBADROOT = hresult(0x80040203);
constexpr HRESULT NORV_E_XMLBADVALUE = hresult(0x80040204);

constexpr HRESULT VFW_S_NO_MORE_ITEMS = hresult(0x00040103);
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = hresult(0x80040200);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = hresult(0x80040204);
constexpr HRESULT VFW_E_NO_TYPES = hresult(0x80040206);
constexpr HRESULT VFW_E_NOT_CONNECTED = hresult(0x80040209);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = hresult(0x8004020D);
constexpr HRESULT VFW_E_SIZENOTSET = hresult(0x80040212);
constexpr HRESULT VFW_E_NOT_FOUND = hresult(0x80040216);
constexpr HRESULT VFW_E_NOT_RUNNING = hresult(0x80040226);
constexpr HRESULT VFW_E_WRONG_STATE = hresult(0x80040227);

constexpr HRESULT STG_E_INUSE = hresult(0x80030100);
constexpr HRESULT NTE_NOT_FOUND = hresult(0x80090011);
constexpr HRESULT NTE_NOT_SUPPORTED = hresult(0x80090029);
constexpr HRESULT INET_E_DEFAULT_ACTION = hresult(0x800C0011);
constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = hresult(0x800C0005);
constexpr HRESULT INET_E_CANNOT_CONNECT = hresult(0x800C0004);
constexpr HRESULT INET_E_DOWNLOAD_FAILURE = hresult(0x800C0008);

// A Win32 error code becomes 0x8007xxxx from its low 16 bits; 0 stays S_OK.
constexpr HRESULT hresultFromWin32(std::uint32_t code) {
    return code == 0 ? S_OK : hresult(0x80070000u | (code & 0xFFFFu));
}

// Win32 error codes that Linux errno values stand for (see the README).
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
constexpr std::uint32_t ERROR_READ_FAULT = 30;
constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t ERROR_BROKEN_PIPE = 109;
constexpr std::uint32_t ERROR_BUFFER_OVERFLOW = 111;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_BAD_PATHNAME = 161;
constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr std::uint32_t ERROR_DIRECTORY = 267;
constexpr std::uint32_t ERROR_NOT_FOUND = 1168;
constexpr std::uint32_t ERROR_TIMEOUT = 1460;
constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr std::uint32_t ERROR_NOT_SAME_DEVICE = 17;
constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t ERROR_INVALID_NAME = 123;
constexpr std::uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr std::uint32_t ERROR_BUSY = 170;
constexpr std::uint32_t ERROR_OPERATION_ABORTED = 995;
constexpr std::uint32_t ERROR_CANCELLED = 1223;

// Maps an errno value to the Win32 error code of the same meaning; values without a
// counterpart become ERROR_GEN_FAILURE, so a failure never reads as success.
std::uint32_t win32ErrorFromErrno(int err);

// HRESULT of an errno value, for example ENOENT -> 0x80070002; 0 -> S_OK.
inline HRESULT hresultFromErrno(int err) {
    return err == 0 ? S_OK : hresultFromWin32(win32ErrorFromErrno(err));
}

// HRESULT of the calling thread's current errno.
inline HRESULT hresultFromLastError() {
    return hresultFromErrno(errno ? errno : EIO);
}

} // namespace norv::com
