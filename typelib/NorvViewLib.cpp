#include "typelib/NorvViewLib.h"

#include <cstring>

namespace norv::typelib {

namespace {

void putU32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void putGuid(std::uint8_t* at, const GUID& g) {
    auto bytes = g.toBytes();
    std::memcpy(at, bytes.data(), bytes.size());
}

} // namespace

std::array<std::uint8_t, AMMediaType::recordSize> AMMediaType::recordBytes() const {
    std::array<std::uint8_t, recordSize> r{};
    putGuid(&r[0], majortype);
    putGuid(&r[16], subtype);
    putU32(&r[32], static_cast<std::uint32_t>(bFixedSizeSamples));
    putU32(&r[36], static_cast<std::uint32_t>(bTemporalCompression));
    putU32(&r[40], lSampleSize);
    putGuid(&r[44], formattype);
    putU32(&r[60], 0); // pUnk
    putU32(&r[64], cbFormat());
    putU32(&r[68], 0); // pbFormat
    return r;
}

AMMediaType AMMediaType::fromRecordBytes(const std::uint8_t* record, const std::uint8_t* format) {
    AMMediaType t;
    t.majortype = GUID::fromBytes(&record[0]);
    t.subtype = GUID::fromBytes(&record[16]);
    t.bFixedSizeSamples = static_cast<std::int32_t>(getU32(&record[32]));
    t.bTemporalCompression = static_cast<std::int32_t>(getU32(&record[36]));
    t.lSampleSize = getU32(&record[40]);
    t.formattype = GUID::fromBytes(&record[44]);
    std::uint32_t size = getU32(&record[64]);
    if (format != nullptr && size > 0)
        t.format.assign(format, format + size);
    return t;
}

const RecordInfo& amMediaTypeRecordInfo() {
    static const RecordInfo info{
        u"_AMMediaType",
        u"_AMMediaType",
        AMMediaType::recordSize,
        {
            {u"majortype", VT_RECORD, u"GUID", 0, 16},
            {u"subtype", VT_RECORD, u"GUID", 16, 16},
            {u"bFixedSizeSamples", VT_I4, {}, 32, 4},
            {u"bTemporalCompression", VT_I4, {}, 36, 4},
            {u"lSampleSize", VT_UI4, {}, 40, 4},
            {u"formattype", VT_RECORD, u"GUID", 44, 16},
            {u"pUnk", VT_UNKNOWN, {}, 60, 4},
            {u"cbFormat", VT_UI4, {}, 64, 4},
            {u"pbFormat", VT_BYREF | VT_UI1, {}, 68, 4},
        },
    };
    return info;
}

const TypeLibInfo& norvViewLibInfo() {
    static const TypeLibInfo info{
        LIBID_NorvViewLib,
        u"NorvViewLib",
        NorvViewLibMajor,
        NorvViewLibMinor,
        u"NorvView 1.0",
        {
            &ITaviHost::interfaceInfo(),        &ITaviUISettings::interfaceInfo(),
            &IEventTarget::interfaceInfo(),     &IEvent::interfaceInfo(),
            &ITaviWindow::interfaceInfo(),      &ITaviPlatform::interfaceInfo(),
            &ITaviDisplay::interfaceInfo(),     &ITaviMedia::interfaceInfo(),
            &ITaviUi::interfaceInfo(),          &ITaviFileDialog::interfaceInfo(),
            &IMPPlayer::interfaceInfo(),        &IMPPlayerServices::interfaceInfo(),
            &IMPStream::interfaceInfo(),        &IMPStreamFilter::interfaceInfo(),
            &IMPPlugin::interfaceInfo(),        &IMPRecorder::interfaceInfo(),
            &IMPSettings::interfaceInfo(),      &IMPAudioSettings::interfaceInfo(),
            &IMPEqualizer::interfaceInfo(),     &IMPAudioEffects::interfaceInfo(),
            &IMPVideoSettings::interfaceInfo(), &IMPMediaSample::interfaceInfo(),
        },
        {
            {u"TaviWindowTypes",
             {},
             {{u"wtAuto", wtAuto},
              {u"wtNormal", wtNormal},
              {u"wtUtility", wtUtility},
              {u"wtCustom", wtCustom},
              {u"wtScreen", wtScreen},
              {u"wtUnknown", wtUnknown}}},
            {u"MPStreamType",
             {},
             {{u"mpsUnknown", mpsUnknown}, {u"mpsAudio", mpsAudio}, {u"mpsVideo", mpsVideo}}},
        },
        {amMediaTypeRecordInfo()},
    };
    return info;
}

HRESULT loadTypeLib(ITypeLib** out) {
    if (out == nullptr)
        return E_POINTER;
    static const ComPtr<ITypeLib> library = createTypeLib(norvViewLibInfo());
    return library.copyTo(out);
}

HRESULT loadRegTypeLib(const GUID& libid, std::uint16_t major, std::uint16_t minor,
                       ITypeLib** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    bool anyVersionAsked = major == anyVersion && minor == anyVersion;
    bool ours = major == NorvViewLibMajor && minor == NorvViewLibMinor;
    if (libid != LIBID_NorvViewLib || !(anyVersionAsked || ours))
        return TYPE_E_LIBNOTREGISTERED;
    return loadTypeLib(out);
}

HRESULT getInterfaceTypeInfo(const IID& iid, ITypeInfo** out) {
    ComPtr<ITypeLib> library;
    HRESULT hr = loadTypeLib(library.put());
    if (failed(hr))
        return hr;
    return library->GetTypeInfoOfGuid(iid, out);
}

} // namespace norv::typelib
