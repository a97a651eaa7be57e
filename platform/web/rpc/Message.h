#pragma once
// Messages of the script bridge's socket and their byte form.
//
// A frame is a 32-bit little-endian body length followed by the body:
//   u8 kind (1 request, 2 reply, 3 notice), u32 call id, u8 operation,
//   u32 value count, then the values.
// A value is a u8 tag followed by its payload: nothing (empty, null), u8 0/1 (bool),
// i32 (I4), the 64 bits of a double (R8), u32 count + that many UTF-16 code units
// (String16), u32 handle (objects), i32 HRESULT + u32 count + UTF-16 code units (error),
// u32 offset + u32 size (shared bytes), the 64 bits of a double (date), u32 count + that
// many bytes (bytes), u32 count + that many values (list; a record is a list of names and
// values, each name a String16). Every number is little-endian.
//
// The decoder takes bytes from an untrusted peer: it checks every length against what is
// left, accepts only known kinds and tags and canonical booleans, refuses trailing bytes,
// bounds how many values one message holds and how deep lists and records nest, and never
// reads outside its input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/web/rpc/Value.h"

namespace norv::web::rpc {

// The user message in which the web process hands its end of the socket to the view
// (parameters: the protocol version as a uint32).
constexpr const char* connectMessageName = "norv-bridge.connect";
constexpr std::uint32_t protocolVersion = 4;

enum class Kind : std::uint8_t { Request = 1, Reply = 2, Notice = 3 };

// Operations. The web process calls the first group, the UI process the second; a reply
// repeats the operation of its request.
enum class Op : std::uint8_t {
    // web -> UI
    Hello = 1,         // notice (shared memory size): the UI accepted the connection (UI ->
                       // web); with a size above 0 the memory's descriptor travels with it
    DocumentReady = 2, // request (url): a new top document's window object is ready
    Get = 3,           // request (handle, name): reply the value, or no value for a method
    Put = 4,           // request (handle, name, value)
    Call = 5,          // request (handle, name or empty for DISPID 0, args...)
    Has = 6,           // request (handle, name): reply bool
    ScriptError = 7,   // request (url, message, line, code, column): reply bool keep
    ReleaseNative = 8, // notice (handle, count, handle, count, ...)
    WindowCall = 9,    // request (name, x, y): the page's window.close, resizeTo, resizeBy,
                       // moveTo or moveBy; reply nothing, or an Error
    // An element of the document that hosts a native object (an <object> with a classid
    // the bridge knows), named by an I4 above 0 that the page gives it, unique in the
    // document.
    ElementConnected = 10, // request (element, classid text): the element is in the document;
                           // reply List(Record(member name: I4 shape), List(event names))
                           // (shape 1 a property, 2 a method or a property with an index)
    ElementMember = 11,    // request (element, name, I4 action, args...): action 0 reads the
                           // property, 1 writes args[0], 2 calls the member with args
    ElementBox = 12,       // notice (element, R8 x, R8 y, R8 width, R8 height, Bool visible
                           // [, R8 x, R8 y, R8 width, R8 height of its clip]): its
                           // rectangle in the viewport (CSS pixels) changed
    ElementGone = 13,      // notice (element): it left the document
    // UI -> web
    RunScript = 20,     // request (code): reply the completion value
    SetPath = 21,       // request (path, value)
    ScriptGet = 22,     // request (handle, name)
    ScriptPut = 23,     // request (handle, name, value)
    ScriptCall = 24,    // request (handle, name or empty to call the object, args...)
    ScriptHas = 25,     // request (handle, name): reply bool
    ReleaseScript = 26, // notice (handle, count, handle, count, ...)
    UserAgent = 27,     // notice (text): the User-Agent header of the page's http and https
                        // requests from now on; the empty text leaves WebKit's own
    FrameDocument = 28, // request (handle): reply the document the frame element shows,
                        // whatever its origin (null: none); E_NOINTERFACE for an object
                        // that is no frame element
    ElementEvent = 29,  // request (element, event name, Record(argument name: value)): the
                        // element's native object raised an event
};

// What an element's member does on ElementMember.
enum class ElementAction : std::int32_t { Get = 0, Put = 1, Call = 2 };
// The shape of an element's member in the ElementConnected reply.
enum class MemberShape : std::int32_t { Property = 1, Function = 2 };

struct Message {
    Kind kind = Kind::Request;
    std::uint32_t id = 0;
    std::uint8_t op = 0;
    std::vector<Value> values;

    friend bool operator==(const Message&, const Message&) = default;
};

// Largest body accepted; a peer announcing more is cut off.
constexpr std::size_t maxBodySize = 64u * 1024 * 1024;
constexpr std::size_t frameHeaderSize = 4;
// Most values one message may carry. A value takes as little as one byte on the wire but
// far more in memory: without this bound a body of empty values would cost the receiver
// a hundred times its size.
constexpr std::size_t maxValueCount = 1u << 20;

// Appends the frame of `message` (header and body) to `out`.
void encodeFrame(const Message& message, std::vector<std::uint8_t>& out);
std::vector<std::uint8_t> encodeFrame(const Message& message);

// Decodes one body (without its length header). False when it is malformed; `out` is
// then unspecified.
bool decodeBody(std::span<const std::uint8_t> body, Message& out);

// Whether `text` can be written as the value of an HTTP header field with each character
// one octet: no control character but the tab (so no line break or NUL that would end the
// field early) and nothing above U+00FF.
bool isHeaderText(std::u16string_view text);

// The UserAgent notice for `text`.
Message userAgentNotice(std::u16string text);
// The text of a well-formed UserAgent notice: exactly one String16 value that is header
// text (possibly empty). nullopt for anything else.
std::optional<std::u16string> userAgentText(const Message& message);

// The Hello notice, offering `sharedSize` bytes of shared memory (0: none).
Message helloNotice(std::uint32_t sharedSize);
// The shared memory size of a well-formed Hello notice; nullopt for anything else.
std::optional<std::uint32_t> helloSharedSize(const Message& message);

// The element of a well-formed ElementGone notice (an I4 above 0); nullopt otherwise.
std::optional<std::int32_t> elementGone(const Message& message);

// A well-formed ElementBox notice: a finite rectangle whose size is not negative, and
// maybe a clip rectangle of the same kind.
struct ElementBoxReport {
    std::int32_t element = 0;
    double x = 0, y = 0, width = 0, height = 0;
    bool visible = false;
    bool clipped = false;
    double clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
};
std::optional<ElementBoxReport> elementBox(const Message& message);

// Whether `text` is the classid of an element the bridge hosts: "clsid:" (in any case)
// and a GUID with or without braces, hex digits in either case, white space around it
// allowed. The GUID's 36 characters, upper-cased, without braces; nullopt otherwise.
std::optional<std::string> classIdGuid(std::u16string_view text);

// An automation date (days since 1899-12-30 00:00; before that day the fraction still
// counts forward from midnight: -1.25 is 1899-12-29 06:00) as milliseconds since the Unix
// epoch, as script's Date keeps time, and back. NaN for what is not finite.
double automationDateToTime(double date);
double timeToAutomationDate(double time);

// Cuts a byte stream into frames.
class FrameReader {
public:
    enum class Status { NeedMore, Message, Malformed };

    void append(std::span<const std::uint8_t> bytes);
    // Takes the next complete frame. Malformed is final: the stream cannot be trusted
    // any more.
    Status next(Message& out);
    std::size_t buffered() const { return buffer_.size() - start_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    bool broken_ = false;
};

} // namespace norv::web::rpc
