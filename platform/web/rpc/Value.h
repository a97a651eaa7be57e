#pragma once
// The values that cross the script bridge's socket: what a script value or an automation
// variant can be on the way between the web process and the UI process.

#include <cstdint>
#include <string>

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
};
constexpr std::uint8_t lastTag = static_cast<std::uint8_t>(Tag::SharedBytes);

struct Value {
    Tag tag = Tag::Empty;
    bool boolean = false;
    std::int32_t i4 = 0;      // I4; the HRESULT of Error
    double r8 = 0;            // R8
    std::uint32_t handle = 0; // NativeObject, ScriptObject; the offset of SharedBytes
    std::uint32_t size = 0;   // SharedBytes
    std::u16string text16;    // String16; the description of Error

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
