#pragma once
// The values that cross the script bridge's socket: what a script value or an automation
// variant can be on the way between the web process and the UI process.

#include <cstdint>
#include <string>
#include <vector>

namespace norv::web::rpc {

enum class Tag : std::uint8_t {
    Empty = 0,    // undefined / VT_EMPTY
    Null = 1,     // null / VT_NULL
    Bool = 2,     // boolean
    I4 = 3,       // 32-bit integer
    R8 = 4,       // double
    String16 = 5, // text as UTF-16 code units, exactly as script holds it (lone surrogates too)
    // 6 was UTF-8 text, which cannot carry every script string; it is refused now.
    NativeObject = 7, // handle of a native object, issued by the UI process
    ScriptObject = 8, // handle of a script object, issued by the web process
    Error = 9,        // a failure: HRESULT and description (UTF-16)
    SharedBytes = 10, // a block of the connection's shared memory: offset and size
    Date = 11,        // an automation date (days since 1899-12-30, the fraction the time of day)
    Bytes = 12,       // a copy of a byte block (a Uint8Array in script)
    List = 13,        // values in order (an array in script)
    Record = 14,      // named values: name, value, name, value... (a plain object in script)
};
constexpr std::uint8_t lastTag = static_cast<std::uint8_t>(Tag::Record);
// How deep Lists and Records may nest in one message.
constexpr int maxValueDepth = 8;

struct Value {
    Tag tag = Tag::Empty;
    bool boolean = false;
    std::int32_t i4 = 0;             // I4; the HRESULT of Error
    double r8 = 0;                   // R8, Date
    std::uint32_t handle = 0;        // NativeObject, ScriptObject; the offset of SharedBytes
    std::uint32_t size = 0;          // SharedBytes
    std::u16string text16;           // String16; the description of Error
    std::vector<std::uint8_t> bytes; // Bytes
    std::vector<Value> items;        // List; Record: each name (a String16) before its value

    static Value empty() { return {}; }
    static Value null() { return withTag(Tag::Null); }
    static Value fromBool(bool v) {
        Value r = withTag(Tag::Bool);
        r.boolean = v;
        return r;
    }
    static Value fromI4(std::int32_t v) {
        Value r = withTag(Tag::I4);
        r.i4 = v;
        return r;
    }
    static Value fromR8(double v) {
        Value r = withTag(Tag::R8);
        r.r8 = v;
        return r;
    }
    static Value fromString16(std::u16string v) {
        Value r = withTag(Tag::String16);
        r.text16 = std::move(v);
        return r;
    }
    static Value nativeObject(std::uint32_t handle) {
        Value r = withTag(Tag::NativeObject);
        r.handle = handle;
        return r;
    }
    static Value scriptObject(std::uint32_t handle) {
        Value r = withTag(Tag::ScriptObject);
        r.handle = handle;
        return r;
    }
    static Value error(std::int32_t hr, std::u16string description) {
        Value r = withTag(Tag::Error);
        r.i4 = hr;
        r.text16 = std::move(description);
        return r;
    }
    static Value sharedBytes(std::uint32_t offset, std::uint32_t size) {
        Value r = withTag(Tag::SharedBytes);
        r.handle = offset;
        r.size = size;
        return r;
    }

    static Value date(double v) {
        Value r = withTag(Tag::Date);
        r.r8 = v;
        return r;
    }
    static Value fromBytes(std::vector<std::uint8_t> v) {
        Value r = withTag(Tag::Bytes);
        r.bytes = std::move(v);
        return r;
    }
    static Value list(std::vector<Value> v) {
        Value r = withTag(Tag::List);
        r.items = std::move(v);
        return r;
    }
    // A Record; add its fields with field().
    static Value record() { return withTag(Tag::Record); }
    Value& field(std::u16string name, Value value) {
        items.push_back(fromString16(std::move(name)));
        items.push_back(std::move(value));
        return *this;
    }

    bool isString() const { return tag == Tag::String16; }

    friend bool operator==(const Value&, const Value&) = default;

private:
    static Value withTag(Tag t) {
        Value r;
        r.tag = t;
        return r;
    }
};

} // namespace norv::web::rpc
