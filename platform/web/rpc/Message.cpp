#include "platform/web/rpc/Message.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace norv::web::rpc {

namespace {

void putU8(std::vector<std::uint8_t>& out, std::uint8_t v) {
    out.push_back(v);
}
void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putText16(std::vector<std::uint8_t>& out, const std::u16string& text) {
    putU32(out, static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

void putValue(std::vector<std::uint8_t>& out, const Value& v) {
    putU8(out, static_cast<std::uint8_t>(v.tag));
    switch (v.tag) {
    case Tag::Empty:
    case Tag::Null:
        break;
    case Tag::Bool:
        putU8(out, v.boolean ? 1 : 0);
        break;
    case Tag::I4:
        putU32(out, static_cast<std::uint32_t>(v.i4));
        break;
    case Tag::R8:
        putU64(out, std::bit_cast<std::uint64_t>(v.r8));
        break;
    case Tag::String16:
        putText16(out, v.text16);
        break;
    case Tag::NativeObject:
    case Tag::ScriptObject:
        putU32(out, v.handle);
        break;
    case Tag::Error:
        putU32(out, static_cast<std::uint32_t>(v.i4));
        putText16(out, v.text16);
        break;
    case Tag::SharedBytes:
        putU32(out, v.handle);
        putU32(out, v.size);
        break;
    case Tag::Date:
        putU64(out, std::bit_cast<std::uint64_t>(v.r8));
        break;
    case Tag::Bytes:
        putU32(out, static_cast<std::uint32_t>(v.bytes.size()));
        out.insert(out.end(), v.bytes.begin(), v.bytes.end());
        break;
    case Tag::List:
    case Tag::Record:
        putU32(out, static_cast<std::uint32_t>(v.items.size()));
        for (const Value& item : v.items)
            putValue(out, item);
        break;
    }
}

// Bounds-checked reading of an untrusted body.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t left() const { return data_.size() - pos_; }
    bool u8(std::uint8_t& v) {
        if (left() < 1)
            return false;
        v = data_[pos_++];
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (left() < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(data_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return true;
    }
    bool u64(std::uint64_t& v) {
        if (left() < 8)
            return false;
        v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += 8;
        return true;
    }
    bool text16(std::u16string& out) {
        std::uint32_t n = 0;
        if (!u32(n) || left() / 2 < n)
            return false;
        out.resize(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            out[i] = static_cast<char16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
            pos_ += 2;
        }
        return true;
    }
    bool bytes(std::vector<std::uint8_t>& out) {
        std::uint32_t n = 0;
        if (!u32(n) || left() < n)
            return false;
        out.assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return true;
    }
    // Counts values against the bound of one message (nested ones included).
    bool countValues(std::size_t n) {
        if (n > maxValueCount - values_)
            return false;
        values_ += n;
        return true;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    std::size_t values_ = 0;
};

bool readValue(Reader& in, Value& v, int depth) {
    std::uint8_t tag = 0;
    if (!in.u8(tag) || tag > lastTag || tag == 6)
        return false;
    v = Value();
    v.tag = static_cast<Tag>(tag);
    std::uint32_t u = 0;
    switch (v.tag) {
    case Tag::Empty:
    case Tag::Null:
        return true;
    case Tag::Bool: {
        std::uint8_t b = 0;
        if (!in.u8(b) || b > 1)
            return false;
        v.boolean = b == 1;
        return true;
    }
    case Tag::I4:
        if (!in.u32(u))
            return false;
        v.i4 = static_cast<std::int32_t>(u);
        return true;
    case Tag::R8: {
        std::uint64_t bits = 0;
        if (!in.u64(bits))
            return false;
        v.r8 = std::bit_cast<double>(bits);
        return true;
    }
    case Tag::String16:
        return in.text16(v.text16);
    case Tag::NativeObject:
    case Tag::ScriptObject:
        return in.u32(v.handle);
    case Tag::Error:
        if (!in.u32(u))
            return false;
        v.i4 = static_cast<std::int32_t>(u);
        return in.text16(v.text16);
    case Tag::SharedBytes:
        return in.u32(v.handle) && in.u32(v.size);
    case Tag::Date: {
        std::uint64_t bits = 0;
        if (!in.u64(bits))
            return false;
        v.r8 = std::bit_cast<double>(bits);
        return true;
    }
    case Tag::Bytes:
        return in.bytes(v.bytes);
    case Tag::List:
    case Tag::Record: {
        // Every value takes at least one byte: a larger count cannot be honest.
        if (depth >= maxValueDepth || !in.u32(u) || u > in.left() || !in.countValues(u) ||
            (v.tag == Tag::Record && u % 2 != 0))
            return false;
        v.items.resize(u);
        for (std::uint32_t i = 0; i < u; ++i) {
            if (!readValue(in, v.items[i], depth + 1))
                return false;
            if (v.tag == Tag::Record && i % 2 == 0 && !v.items[i].isString())
                return false; // a field's name
        }
        return true;
    }
    }
    return false;
}

} // namespace

void encodeFrame(const Message& message, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    putU32(out, 0); // length, patched below
    putU8(out, static_cast<std::uint8_t>(message.kind));
    putU32(out, message.id);
    putU8(out, message.op);
    putU32(out, static_cast<std::uint32_t>(message.values.size()));
    for (const Value& v : message.values)
        putValue(out, v);
    const auto length = static_cast<std::uint32_t>(out.size() - start - frameHeaderSize);
    for (int i = 0; i < 4; ++i)
        out[start + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

std::vector<std::uint8_t> encodeFrame(const Message& message) {
    std::vector<std::uint8_t> out;
    encodeFrame(message, out);
    return out;
}

bool decodeBody(std::span<const std::uint8_t> body, Message& out) {
    Reader in(body);
    std::uint8_t kind = 0;
    std::uint32_t count = 0;
    if (!in.u8(kind) || kind < 1 || kind > 3)
        return false;
    out.kind = static_cast<Kind>(kind);
    if (!in.u32(out.id) || !in.u8(out.op) || !in.u32(count))
        return false;
    // Every value takes at least one byte: a larger count cannot be honest.
    if (count > in.left() || !in.countValues(count))
        return false;
    out.values.clear();
    out.values.resize(count);
    for (Value& v : out.values) {
        if (!readValue(in, v, 0))
            return false;
    }
    return in.left() == 0;
}

bool isHeaderText(std::u16string_view text) {
    for (char16_t c : text) {
        if ((c < 0x20 && c != '\t') || c == 0x7F || c > 0xFF)
            return false;
    }
    return true;
}

Message userAgentNotice(std::u16string text) {
    return {Kind::Notice,
            0,
            static_cast<std::uint8_t>(Op::UserAgent),
            {Value::fromString16(std::move(text))}};
}

std::optional<std::u16string> userAgentText(const Message& message) {
    if (message.kind != Kind::Notice || message.op != static_cast<std::uint8_t>(Op::UserAgent) ||
        message.values.size() != 1 || message.values[0].tag != Tag::String16 ||
        !isHeaderText(message.values[0].text16))
        return std::nullopt;
    return message.values[0].text16;
}

Message helloNotice(std::uint32_t sharedSize) {
    return {Kind::Notice,
            0,
            static_cast<std::uint8_t>(Op::Hello),
            {Value::fromI4(static_cast<std::int32_t>(sharedSize))}};
}

std::optional<std::uint32_t> helloSharedSize(const Message& message) {
    if (message.kind != Kind::Notice || message.op != static_cast<std::uint8_t>(Op::Hello) ||
        message.values.size() != 1 || message.values[0].tag != Tag::I4 || message.values[0].i4 < 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(message.values[0].i4);
}

std::optional<std::int32_t> elementGone(const Message& message) {
    if (message.kind != Kind::Notice || message.op != static_cast<std::uint8_t>(Op::ElementGone) ||
        message.values.size() != 1 || message.values[0].tag != Tag::I4 || message.values[0].i4 <= 0)
        return std::nullopt;
    return message.values[0].i4;
}

std::optional<ElementBoxReport> elementBox(const Message& message) {
    const auto& v = message.values;
    if (message.kind != Kind::Notice || message.op != static_cast<std::uint8_t>(Op::ElementBox) ||
        (v.size() != 6 && v.size() != 10) || v[0].tag != Tag::I4 || v[0].i4 <= 0 ||
        v[5].tag != Tag::Bool)
        return std::nullopt;
    // Four finite numbers from `first`, the last two (a size) not negative.
    auto rectangle = [&](std::size_t first, double(&out)[4]) {
        for (std::size_t i = 0; i < 4; ++i) {
            const Value& n = v[first + i];
            if (n.tag == Tag::I4)
                out[i] = n.i4;
            else if (n.tag == Tag::R8 && std::isfinite(n.r8))
                out[i] = n.r8;
            else
                return false;
        }
        return out[2] >= 0 && out[3] >= 0;
    };
    double numbers[4];
    if (!rectangle(1, numbers))
        return std::nullopt;
    ElementBoxReport report{v[0].i4, numbers[0], numbers[1], numbers[2], numbers[3], v[5].boolean};
    if (v.size() == 10) {
        double clip[4];
        if (!rectangle(6, clip))
            return std::nullopt;
        report.clipped = true;
        report.clipX = clip[0];
        report.clipY = clip[1];
        report.clipWidth = clip[2];
        report.clipHeight = clip[3];
    }
    return report;
}

std::optional<std::string> classIdGuid(std::u16string_view text) {
    auto space = [](char16_t c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    constexpr std::u16string_view prefix = u"clsid:";
    if (text.size() < prefix.size())
        return std::nullopt;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char16_t>(c - 'A' + 'a');
        if (c != prefix[i])
            return std::nullopt;
    }
    text.remove_prefix(prefix.size());
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}')
            return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36)
        return std::nullopt;
    std::string guid;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash) {
            if (c != '-')
                return std::nullopt;
        } else if (c >= 'a' && c <= 'f') {
            c = static_cast<char16_t>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return std::nullopt;
        }
        guid.push_back(static_cast<char>(c));
    }
    return guid;
}

namespace {
constexpr double dayMs = 86400000.0;
constexpr double epochDays = 25569.0; // 1970-01-01 as an automation date
} // namespace

double automationDateToTime(double date) {
    if (!std::isfinite(date))
        return std::nan("");
    const double days = std::trunc(date);
    const double fraction = std::fabs(date - days);
    return (days - epochDays) * dayMs + std::round(fraction * dayMs);
}

double timeToAutomationDate(double time) {
    if (!std::isfinite(time))
        return std::nan("");
    const double linear = time / dayMs + epochDays; // days, the fraction counted forward
    const double days = std::floor(linear);
    const double fraction = linear - days;
    // Before the epoch day the integer part is the day and the fraction is added away
    // from zero.
    return days >= 0 || fraction == 0 ? linear : days - fraction;
}

void FrameReader::append(std::span<const std::uint8_t> bytes) {
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

FrameReader::Status FrameReader::next(Message& out) {
    if (broken_)
        return Status::Malformed;
    if (buffered() < frameHeaderSize)
        return Status::NeedMore;
    const std::uint8_t* p = buffer_.data() + start_;
    const std::uint32_t length =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    if (length > maxBodySize) {
        broken_ = true;
        return Status::Malformed;
    }
    if (buffered() - frameHeaderSize < length)
        return Status::NeedMore;
    const bool ok = decodeBody({p + frameHeaderSize, length}, out);
    start_ += frameHeaderSize + length;
    // Drop consumed bytes once they dominate the buffer, so it does not grow forever.
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > 64 * 1024 && start_ * 2 > buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    if (!ok) {
        broken_ = true;
        return Status::Malformed;
    }
    return Status::Message;
}

} // namespace norv::web::rpc
