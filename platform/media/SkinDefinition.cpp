#include "platform/media/SkinDefinition.h"

#include <optional>

namespace norv::platform::media {

namespace {

// Elements nested deeper than this make the text malformed (no skin needs it).
constexpr std::size_t kMaxDepth = 256;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

std::string toUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = upper(c);
    return out;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(char c) {
    auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || u >= 0x80;
}

bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 text (after its byte-order mark) as UTF-8; nullopt when it is not valid UTF-16.
std::optional<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        auto a = static_cast<unsigned char>(bytes[i]);
        auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<std::uint32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 2 >= bytes.size())
                return std::nullopt;
            std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
        appendUtf8(out, u);
    }
    return out;
}

struct Attribute {
    std::string name;
    std::string value;
};

struct Tag {
    std::string name;
    std::vector<Attribute> attributes;
    bool selfClosing = false;

    const std::string* attribute(std::string_view wanted) const {
        for (const Attribute& a : attributes)
            if (equalsNoCase(a.name, wanted))
                return &a.value;
        return nullptr;
    }
};

// A small, strict reader of the XML the skin definitions use: elements, attributes in
// quotes, character references and the five named entities, comments, processing
// instructions, CDATA sections and a document type declaration. Text content is skipped.
class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool run(SkinDefinition& out);
    const std::string& error() const { return error_; }
    const std::string& rootName() const { return root_; }
    bool sawView() const { return viewFound_; }
    const std::string& onload() const { return onload_; }

private:
    bool fail(const std::string& what) {
        if (error_.empty())
            error_ = what + " at offset " + std::to_string(pos_);
        return false;
    }
    bool startsWith(std::string_view prefix) const {
        return s_.substr(pos_, prefix.size()) == prefix;
    }
    bool skipPast(std::string_view terminator, const char* what) {
        std::size_t end = s_.find(terminator, pos_);
        if (end == std::string_view::npos)
            return fail(std::string("unterminated ") + what);
        pos_ = end + terminator.size();
        return true;
    }
    void skipSpace() {
        while (pos_ < s_.size() && isSpace(s_[pos_]))
            ++pos_;
    }
    bool readName(std::string& name) {
        if (pos_ >= s_.size() || !isNameStart(s_[pos_]))
            return fail("a name expected");
        std::size_t start = pos_;
        while (pos_ < s_.size() && isNameChar(s_[pos_]))
            ++pos_;
        name.assign(s_.substr(start, pos_ - start));
        return true;
    }
    bool readAttributeValue(std::string& value);
    bool readReference(std::string& value);
    bool readTag(Tag& tag);
    bool readEndTag(std::string& name);

    void onStart(const Tag& tag, SkinDefinition& out);
    // `depth`: of the element that ends (0 for the root).
    void onEnd(std::size_t depth);

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string error_;
    std::vector<std::string> open_;
    std::string root_;
    bool viewFound_ = false;
    std::size_t viewDepth_ = 0; // depth of the open chosen view, 0 when not inside it
    std::string onload_;
};

bool Reader::readReference(std::string& value) {
    // At '&'.
    std::size_t end = s_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12)
        return fail("a malformed reference");
    std::string_view ref = s_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    if (ref == "lt")
        value += '<';
    else if (ref == "gt")
        value += '>';
    else if (ref == "amp")
        value += '&';
    else if (ref == "quot")
        value += '"';
    else if (ref == "apos")
        value += '\'';
    else if (ref.size() >= 2 && ref[0] == '#') {
        bool hex = ref[1] == 'x';
        std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty())
            return fail("an empty character reference");
        std::uint32_t cp = 0;
        for (char c : digits) {
            std::uint32_t d;
            if (c >= '0' && c <= '9')
                d = static_cast<std::uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                d = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                d = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return fail("a malformed character reference");
            cp = cp * (hex ? 16 : 10) + d;
            if (cp > 0x10FFFF)
                return fail("a character reference out of range");
        }
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
            return fail("a character reference to an invalid character");
        appendUtf8(value, cp);
    } else {
        return fail("an unknown entity");
    }
    return true;
}

bool Reader::readAttributeValue(std::string& value) {
    if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\''))
        return fail("a quoted attribute value expected");
    char quote = s_[pos_++];
    while (true) {
        if (pos_ >= s_.size())
            return fail("an unterminated attribute value");
        char c = s_[pos_];
        if (c == quote) {
            ++pos_;
            return true;
        }
        if (c == '<')
            return fail("'<' in an attribute value");
        if (c == '&') {
            if (!readReference(value))
                return false;
            continue;
        }
        value += c;
        ++pos_;
    }
}

bool Reader::readTag(Tag& tag) {
    // At '<' followed by a name start.
    ++pos_;
    if (!readName(tag.name))
        return false;
    while (true) {
        std::size_t before = pos_;
        skipSpace();
        if (pos_ >= s_.size())
            return fail("an unterminated tag");
        if (s_[pos_] == '>') {
            ++pos_;
            return true;
        }
        if (startsWith("/>")) {
            pos_ += 2;
            tag.selfClosing = true;
            return true;
        }
        if (pos_ == before)
            return fail("white space expected between attributes");
        Attribute attribute;
        if (!readName(attribute.name))
            return false;
        skipSpace();
        if (pos_ >= s_.size() || s_[pos_] != '=')
            return fail("'=' expected after an attribute name");
        ++pos_;
        skipSpace();
        if (!readAttributeValue(attribute.value))
            return false;
        if (tag.attribute(attribute.name))
            return fail("a repeated attribute");
        tag.attributes.push_back(std::move(attribute));
    }
}

bool Reader::readEndTag(std::string& name) {
    // At "</".
    pos_ += 2;
    if (!readName(name))
        return false;
    skipSpace();
    if (pos_ >= s_.size() || s_[pos_] != '>')
        return fail("'>' expected to end a closing tag");
    ++pos_;
    return true;
}

void Reader::onStart(const Tag& tag, SkinDefinition& out) {
    std::size_t depth = open_.size(); // of this element, 0 for the root
    if (depth == 0) {
        root_ = tag.name;
    } else if (depth == 1 && !viewFound_ && equalsNoCase(root_, "THEME") &&
               equalsNoCase(tag.name, "VIEW")) {
        viewFound_ = true;
        viewDepth_ = 1;
        if (const std::string* onload = tag.attribute("onload"))
            onload_ = *onload;
    } else if (viewDepth_ != 0 && depth > viewDepth_) {
        if (const std::string* id = tag.attribute("id"))
            out.elements.push_back({toUpper(tag.name), *id});
    }
}

void Reader::onEnd(std::size_t depth) {
    if (viewDepth_ != 0 && depth == viewDepth_)
        viewDepth_ = 0;
}

bool Reader::run(SkinDefinition& out) {
    bool rootClosed = false;
    while (pos_ < s_.size()) {
        if (s_[pos_] != '<') {
            // Text: content inside the root, only white space around it.
            if (open_.empty() && !isSpace(s_[pos_]))
                return fail("text outside the root element");
            ++pos_;
            continue;
        }
        if (startsWith("<!--")) {
            pos_ += 4;
            if (!skipPast("-->", "comment"))
                return false;
        } else if (startsWith("<?")) {
            pos_ += 2;
            if (!skipPast("?>", "processing instruction"))
                return false;
        } else if (startsWith("<![CDATA[")) {
            if (open_.empty())
                return fail("a CDATA section outside the root element");
            pos_ += 9;
            if (!skipPast("]]>", "CDATA section"))
                return false;
        } else if (startsWith("<!")) {
            if (!open_.empty() || rootClosed || !root_.empty() || !startsWith("<!DOCTYPE"))
                return fail("a misplaced declaration");
            pos_ += 2;
            if (!skipPast(">", "declaration"))
                return false;
        } else if (startsWith("</")) {
            std::string name;
            if (!readEndTag(name))
                return false;
            if (open_.empty() || !equalsNoCase(open_.back(), name))
                return fail("a closing tag that does not match");
            onEnd(open_.size() - 1);
            open_.pop_back();
            if (open_.empty())
                rootClosed = true;
        } else {
            if (rootClosed)
                return fail("a second root element");
            Tag tag;
            if (!readTag(tag))
                return false;
            if (open_.size() >= kMaxDepth)
                return fail("elements nested too deeply");
            onStart(tag, out);
            if (tag.selfClosing) {
                onEnd(open_.size());
                if (open_.empty())
                    rootClosed = true;
            } else {
                open_.push_back(tag.name);
            }
        }
    }
    if (!open_.empty())
        return fail("an element not closed");
    if (root_.empty())
        return fail("no root element");
    return true;
}

bool isIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
}

bool isIdentChar(char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits script text into statements at ';' and line breaks, keeping quoted strings whole
// and dropping comments.
std::vector<std::string> splitStatements(std::string_view code) {
    std::vector<std::string> statements;
    std::string current;
    std::size_t i = 0;
    auto flush = [&] {
        statements.push_back(std::move(current));
        current.clear();
    };
    while (i < code.size()) {
        char c = code[i];
        if (c == '"' || c == '\'') {
            std::size_t start = i++;
            while (i < code.size() && code[i] != c && code[i] != '\n' && code[i] != '\r')
                i += code[i] == '\\' && i + 1 < code.size() ? 2 : 1;
            if (i < code.size() && code[i] == c)
                ++i;
            current.append(code.substr(start, std::min(i, code.size()) - start));
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '/') {
            while (i < code.size() && code[i] != '\n' && code[i] != '\r')
                ++i;
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '*') {
            std::size_t end = code.find("*/", i + 2);
            i = end == std::string_view::npos ? code.size() : end + 2;
            current += ' ';
        } else if (c == ';' || c == '\n' || c == '\r') {
            flush();
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return statements;
}

std::optional<SkinAssignment> parseAssignment(std::string_view statement) {
    std::size_t i = 0;
    auto skip = [&] {
        while (i < statement.size() && isSpace(statement[i]))
            ++i;
    };
    auto ident = [&](std::string& out) {
        skip();
        if (i >= statement.size() || !isIdentStart(statement[i]))
            return false;
        std::size_t start = i;
        while (i < statement.size() && isIdentChar(statement[i]))
            ++i;
        out.assign(statement.substr(start, i - start));
        return true;
    };
    auto expect = [&](char c) {
        skip();
        if (i >= statement.size() || statement[i] != c)
            return false;
        ++i;
        return true;
    };
    SkinAssignment a;
    if (!ident(a.object) || !expect('.') || !ident(a.member) || !expect('=') || !ident(a.id))
        return std::nullopt;
    skip();
    if (i != statement.size())
        return std::nullopt;
    return a;
}

void readOnload(std::string_view code, SkinDefinition& out) {
    code = trim(code);
    constexpr std::string_view prefix = "jscript:";
    if (code.size() >= prefix.size() && equalsNoCase(code.substr(0, prefix.size()), prefix))
        code.remove_prefix(prefix.size());
    for (const std::string& statement : splitStatements(code)) {
        std::string_view text = trim(statement);
        if (text.empty())
            continue;
        if (auto assignment = parseAssignment(text))
            out.onload.push_back(std::move(*assignment));
        else
            out.ignored.emplace_back(text);
    }
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equalsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

} // namespace

const SkinElement* SkinDefinition::find(std::string_view id) const {
    for (const SkinElement& e : elements)
        if (e.id == id)
            return &e;
    return nullptr;
}

SkinResult parseSkinDefinition(std::string_view text, SkinDefinition& out) {
    out = SkinDefinition{};
    SkinResult result;
    std::optional<std::string> converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        converted = utf16ToUtf8(text.substr(2), false);
    } else if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFE &&
               static_cast<unsigned char>(text[1]) == 0xFF) {
        converted = utf16ToUtf8(text.substr(2), true);
    } else {
        if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3);
        converted = std::string(text);
    }
    if (!converted) {
        result.error = SkinError::Malformed;
        result.detail = "the text is not valid UTF-16";
        return result;
    }

    Reader reader(*converted);
    SkinDefinition parsed;
    if (!reader.run(parsed)) {
        result.error = SkinError::Malformed;
        result.detail = reader.error();
        return result;
    }
    if (!equalsNoCase(reader.rootName(), "THEME")) {
        result.error = SkinError::NoTheme;
        result.detail = "the root element is " + reader.rootName();
        return result;
    }
    if (!reader.sawView()) {
        result.error = SkinError::NoView;
        result.detail = "THEME holds no VIEW";
        return result;
    }
    readOnload(reader.onload(), parsed);
    out = std::move(parsed);
    return result;
}

SkinResult readSkinPackage(std::span<const std::uint8_t> package, SkinDefinition& out) {
    out = SkinDefinition{};
    SkinResult result;
    ZipReader reader;
    if (ZipError error = reader.open(package); error != ZipError::None) {
        result.error = SkinError::Package;
        result.zipError = error;
        result.detail = describeZipError(error);
        return result;
    }
    const ZipReader::Entry* definition = nullptr;
    for (const ZipReader::Entry& entry : reader.entries()) {
        if (!endsWithNoCase(entry.name, ".wms"))
            continue;
        if (definition) {
            result.error = SkinError::SeveralDefinitions;
            result.detail = "the package holds several skin definitions";
            return result;
        }
        definition = &entry;
    }
    if (!definition) {
        result.error = SkinError::NoDefinition;
        result.detail = "the package holds no skin definition";
        return result;
    }
    std::vector<std::uint8_t> bytes;
    if (ZipError error = reader.extract(*definition, bytes, kMaxSkinDefinitionSize);
        error != ZipError::None) {
        result.error = SkinError::Package;
        result.zipError = error;
        result.detail = definition->name + ": " + describeZipError(error);
        return result;
    }
    return parseSkinDefinition(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), out);
}

} // namespace norv::platform::media
