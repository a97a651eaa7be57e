#pragma once
// SkinDefinition: what the skin engine understands of a skin package (".wmz") and of the
// skin definition (".wms") inside it.
//
// The definition is XML-like text: a THEME root holding VIEW elements, each with elements
// of its own; element and attribute names match without regard to case. Of the first VIEW
// the engine keeps the elements that carry an id (VIDEOSETTINGS, EQUALIZERSETTINGS, ...)
// and the onload attribute, read as statements separated by ';' (or line breaks). The
// engine is not a script engine: the only statement it runs is an assignment of an
// element to a member of a scriptable object, `name.member =id`; every other statement
// is kept aside so that the caller can report it.
//
// Plain C++ (and zlib, through ZipReader): the text comes from a file anyone may have
// written, so malformed input is an error, never undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/media/ZipReader.h"

namespace norv::platform::media {

struct SkinElement {
    std::string type; // the element's name, upper case ("EQUALIZERSETTINGS")
    std::string id;
};

// `object.member = id`
struct SkinAssignment {
    std::string object;
    std::string member;
    std::string id;
};

enum class SkinError {
    None,
    NoDefinition, // the package holds no ".wms" entry
    SeveralDefinitions,
    Package,   // the archive is damaged (see zipError)
    Malformed, // the definition is not well-formed
    NoTheme,   // its root is not THEME
    NoView,    // THEME holds no VIEW
};

struct SkinDefinition {
    std::vector<SkinElement> elements; // of the first view, in document order
    std::vector<SkinAssignment> onload;
    std::vector<std::string> ignored; // onload statements of any other form, trimmed

    // The element with this id, or null.
    const SkinElement* find(std::string_view id) const;
};

struct SkinResult {
    SkinError error = SkinError::None;
    ZipError zipError = ZipError::None; // when error is Package
    std::string detail;                 // what was wrong, for the log

    explicit operator bool() const { return error == SkinError::None; }
};

// The largest skin definition the engine reads.
inline constexpr std::size_t kMaxSkinDefinitionSize = 1 << 20;

// Parses skin definition text (8-bit or UTF-8, with or without a byte-order mark; UTF-16
// with its byte-order mark).
SkinResult parseSkinDefinition(std::string_view text, SkinDefinition& out);

// Reads the package's single ".wms" entry (the name matched without regard to case) and
// parses it.
SkinResult readSkinPackage(std::span<const std::uint8_t> package, SkinDefinition& out);

} // namespace norv::platform::media
