#pragma once
// The enumerations and the record of the NorvViewLib type library.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"
#include "platform/com/TypeInfo.h"
#include "platform/com/Variant.h"

namespace norv::typelib {

using namespace norv::com;

// Window types of a host window (the declaration words, window styles and the script's
// tavi.windowTypes follow these values).
enum TaviWindowTypes : std::int32_t {
    wtAuto = 0,
    wtNormal = 1,
    wtUtility = 2,
    wtCustom = 3,
    wtScreen = 4,
    wtUnknown = 5,
};
constexpr const char16_t* typeNameOf(TaviWindowTypes) {
    return u"TaviWindowTypes";
}

// A media stream's type; as a bit set in insertFilter / removeFilter: 1 audio, 2 video.
enum MPStreamType : std::int32_t {
    mpsUnknown = 0,
    mpsAudio = 1,
    mpsVideo = 2,
};
constexpr const char16_t* typeNameOf(MPStreamType) {
    return u"MPStreamType";
}

// The media type record _AMMediaType. In memory the program keeps it with its own types
// (the format block owned by a vector); recordBytes() writes the record's byte layout:
//   0 majortype (GUID), 16 subtype (GUID), 32 bFixedSizeSamples (int32),
//   36 bTemporalCompression (int32), 40 lSampleSize (uint32), 44 formattype (GUID),
//   60 pUnk (pointer, 4 bytes), 64 cbFormat (uint32), 68 pbFormat (pointer, 4 bytes);
// 72 bytes in all, little-endian.
struct AMMediaType {
    static constexpr std::uint32_t recordSize = 72;

    GUID majortype;
    GUID subtype;
    std::int32_t bFixedSizeSamples = 0;
    std::int32_t bTemporalCompression = 0;
    std::uint32_t lSampleSize = 0;
    GUID formattype;
    ComPtr<IUnknown> pUnk; // not used
    std::vector<std::uint8_t> format;

    std::uint32_t cbFormat() const { return static_cast<std::uint32_t>(format.size()); }
    // The 72-byte record; the two pointer fields are written as 0.
    std::array<std::uint8_t, recordSize> recordBytes() const;
    // Reads a record and the cbFormat bytes of its format block (given separately, since
    // the record's pointer means nothing outside the process that wrote it).
    static AMMediaType fromRecordBytes(const std::uint8_t* record, const std::uint8_t* format);
};

// The description of the record, with the offsets above.
const RecordInfo& amMediaTypeRecordInfo();

} // namespace norv::typelib

namespace norv::com {

// A media type travels to script as VT_ARRAY | VT_UI1: the 72-byte record followed by
// its format block.
template <>
struct ArgTraits<typelib::AMMediaType> {
    static constexpr VARTYPE vt = VT_RECORD;
    using OutHolder = typelib::AMMediaType;
    static Variant toVariant(OutHolder& h) {
        auto array = std::make_shared<SafeArray>();
        array->elementType = VT_UI1;
        auto record = h.recordBytes();
        array->bytes.assign(record.begin(), record.end());
        array->bytes.insert(array->bytes.end(), h.format.begin(), h.format.end());
        return Variant::fromArray(std::move(array));
    }
    static std::u16string typeName() { return u"_AMMediaType"; }
    static IID iid() { return IID_NULL; }
};

} // namespace norv::com
