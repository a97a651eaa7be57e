#include <gtest/gtest.h>

#include <map>

#include "platform/com/DispatchObject.h"
#include "platform/com/Exceptions.h"
#include "typelib/NorvViewLib.h"

using namespace norv::com;
using namespace norv::typelib;

namespace {

const InterfaceInfo* byName(const char16_t* name) {
    for (const InterfaceInfo* i : norvViewLibInfo().interfaces)
        if (i->name == name)
            return i;
    return nullptr;
}

const FuncInfo* member(const InterfaceInfo& info, const char16_t* name, InvokeKind kind) {
    for (const FuncInfo& f : info.funcs)
        if (f.name == name && f.kind == kind)
            return &f;
    return nullptr;
}

TEST(NorvViewLib, LibraryAttributes) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(loadTypeLib(lib.put()), S_OK);
    const TypeLibInfo* info = nullptr;
    ASSERT_EQ(lib->GetLibraryInfo(&info), S_OK);
    EXPECT_EQ(info->libid.toString(), "{41E779E3-07C3-46F0-AEE0-354490A27C53}");
    EXPECT_EQ(info->majorVersion, 1);
    EXPECT_EQ(info->minorVersion, 0);
    Bstr name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc), S_OK);
    EXPECT_EQ(name.toUtf8(), "NorvViewLib");
    EXPECT_EQ(doc.toUtf8(), "NorvView 1.0");
    ComPtr<ITypeLib> again;
    ASSERT_EQ(loadTypeLib(again.put()), S_OK);
    EXPECT_EQ(lib.get(), again.get());
}

TEST(NorvViewLib, RegisteredLookupFollowsIdentifierAndVersion) {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(loadRegTypeLib(LIBID_NorvViewLib, anyVersion, anyVersion, lib.put()), S_OK);
    EXPECT_EQ(loadRegTypeLib(LIBID_NorvViewLib, 1, 0, lib.put()), S_OK);
    EXPECT_EQ(loadRegTypeLib(LIBID_NorvViewLib, 2, 0, lib.put()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(loadRegTypeLib(IID_NULL, 1, 0, lib.put()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(lib.get(), nullptr);
}

TEST(NorvViewLib, DeclaresEveryInterfaceWithItsIdentifier) {
    const std::map<std::u16string, std::string> given = {
        {u"ITaviWindow", "{343F5332-6876-431B-BF35-F4C7EE13832F}"},
        {u"ITaviPlatform", "{B221F32E-B07B-4FD4-AF85-10BF0A45CC40}"},
        {u"ITaviMedia", "{19845FB1-88A2-4176-B542-C5F933393842}"},
        {u"ITaviDisplay", "{0406807F-C40B-4A82-8C7B-16C6ACFF68BC}"},
        {u"ITaviUi", "{82B2D79C-90B2-48D4-865D-AA1A55A9ABD0}"},
        {u"ITaviFileDialog", "{03217B37-CA29-4421-85C1-8A503E25B30D}"},
        {u"IMPPlayer", "{159B7311-624E-4F2A-974E-FF6DFC80094C}"},
        {u"IMPPlayerServices", "{2E3E0C5D-42E5-4EF0-A7A3-F43E9CFF6609}"},
        {u"IMPPlugin", "{74B463F8-F724-4EF1-B9D1-5AB21B1785E0}"},
        {u"IMPStreamFilter", "{9B9BBC5E-2599-4387-8BD0-00CEE6C68D50}"},
        {u"IMPSettings", "{4ADF96F2-AB65-4DEC-A4C7-14954C4150D8}"},
        {u"IMPEqualizer", "{B976EFF0-32E0-4091-B8F2-E953838051C4}"},
        {u"IMPAudioEffects", "{8C428666-708F-4364-A46D-EFEB4E960408}"},
        {u"IMPAudioSettings", "{825051A7-3C08-412F-B81E-B71182D5BB24}"},
        // Identifiers of our own (none given elsewhere); they must never change.
        {u"ITaviHost", "{9AE0E5C8-B636-49F0-AA5B-C7A56A975F9F}"},
        {u"ITaviUISettings", "{A29D58A0-F9D4-4EBE-B21D-9A337FD2A119}"},
        {u"IEventTarget", "{839015EC-A19C-4A84-8EAE-B7343E310D20}"},
        {u"IEvent", "{AABA8382-89AD-48A0-B14E-B56F8E658296}"},
        {u"IMPStream", "{BFA73D1A-1F9B-4F3E-8773-A429C8E50826}"},
        {u"IMPRecorder", "{8095FBDD-CF69-4792-88AB-FFDD6D617781}"},
        {u"IMPVideoSettings", "{54A9CE95-9C90-44BD-BDD3-656DC7A1B587}"},
        {u"IMPMediaSample", "{5994808B-5388-4A91-AF7A-C9F43565F903}"},
    };
    EXPECT_EQ(norvViewLibInfo().interfaces.size(), given.size());
    for (const auto& [name, iid] : given) {
        const InterfaceInfo* info = byName(name.c_str());
        ASSERT_NE(info, nullptr) << iid;
        EXPECT_EQ(info->iid.toString(), iid);
        ComPtr<ITypeInfo> ti;
        ASSERT_EQ(getInterfaceTypeInfo(info->iid, ti.put()), S_OK);
        const InterfaceInfo* viaLib = nullptr;
        ASSERT_EQ(ti->GetInterfaceInfo(&viaLib), S_OK);
        EXPECT_EQ(viaLib, info);
    }
    ComPtr<ITypeInfo> ti;
    EXPECT_EQ(getInterfaceTypeInfo(IDispatch::iid, ti.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST(NorvViewLib, DocumentationStrings) {
    EXPECT_EQ(ITaviHost::interfaceInfo().doc, u"Prog ID: Tavimark.Host");
    EXPECT_EQ(ITaviPlatform::interfaceInfo().doc, u"Prog ID: Tavimark.Platform");
    EXPECT_EQ(ITaviUISettings::interfaceInfo().doc, u"Local ID: UISettings");
}

TEST(NorvViewLib, DispatchIdentifiersKindsAndOptionalParameters) {
    const InterfaceInfo& host = ITaviHost::interfaceInfo();
    EXPECT_EQ(member(host, u"run", InvokeKind::Method)->memid, 0x60020006);
    EXPECT_EQ(member(host, u"userAgentProperties", InvokeKind::PropertyPut)->memid, 4);
    EXPECT_EQ(member(host, u"uiSettings", InvokeKind::PropertyPut), nullptr);

    const InterfaceInfo& window = ITaviWindow::interfaceInfo();
    EXPECT_EQ(window.base, &IEventTarget::interfaceInfo());
    EXPECT_EQ(member(window, u"addEventListener", InvokeKind::Method)->memid, 1);
    EXPECT_EQ(member(window, u"close", InvokeKind::Method)->memid, 25);
    EXPECT_EQ(member(window, u"reload", InvokeKind::Method)->memid, 1000);
    const FuncInfo* resizing = member(window, u"beginResizing", InvokeKind::Method);
    ASSERT_EQ(resizing->params.size(), 5u);
    for (const ParamInfo& p : resizing->params) {
        EXPECT_TRUE(p.isOptional());
        EXPECT_FALSE(p.hasDefault());
        EXPECT_EQ(p.vt, VT_I4);
    }
    EXPECT_EQ(member(window, u"getType", InvokeKind::Method)->retval->typeName(),
              u"TaviWindowTypes");

    const InterfaceInfo& dialog = ITaviFileDialog::interfaceInfo();
    EXPECT_EQ(member(dialog, u"removeEventListener", InvokeKind::Method)->memid, 2);
    EXPECT_TRUE(member(dialog, u"show", InvokeKind::Method)->params[0].isOptional());
    EXPECT_EQ(member(dialog, u"type", InvokeKind::PropertyPut)->memid, 6);

    const InterfaceInfo& recorder = IMPRecorder::interfaceInfo();
    EXPECT_EQ(member(recorder, u"services", InvokeKind::PropertyPut)->memid, 7);
    EXPECT_EQ(member(recorder, u"record", InvokeKind::Method)->memid, 15);

    const FuncInfo* stream =
        member(IMPStream::interfaceInfo(), u"getStreamType", InvokeKind::Method);
    EXPECT_EQ(stream->memid, 7);
    EXPECT_EQ(stream->params[0].typeName(), u"MPStreamType");
    EXPECT_EQ(stream->retval->vt, VT_RECORD);
    EXPECT_EQ(stream->retval->typeName(), u"_AMMediaType");

    EXPECT_EQ(member(IMPEqualizer::interfaceInfo(), u"gainLevels", InvokeKind::PropertyPut)
                  ->params.size(),
              2u);
    EXPECT_EQ(
        member(IMPMediaSample::interfaceInfo(), u"fftSpectrum", InvokeKind::PropertyGet)->memid,
        10);
    EXPECT_EQ(member(IMPPlayer::interfaceInfo(), u"services", InvokeKind::PropertyGet)->memid, 100);
}

TEST(NorvViewLib, EnumerationsAndRecord) {
    const TypeLibInfo& lib = norvViewLibInfo();
    ASSERT_EQ(lib.enums.size(), 2u);
    EXPECT_EQ(lib.enums[0].name, u"TaviWindowTypes");
    EXPECT_EQ(lib.enums[0].values.back(), std::make_pair(std::u16string(u"wtUnknown"), 5));
    EXPECT_EQ(lib.enums[1].values[2], std::make_pair(std::u16string(u"mpsVideo"), 2));
    ASSERT_EQ(lib.records.size(), 1u);
    const RecordInfo& record = lib.records[0];
    EXPECT_EQ(record.name, u"_AMMediaType");
    EXPECT_EQ(record.size, 72u);
    std::map<std::u16string, std::uint32_t> offsets;
    for (const RecordField& f : record.fields)
        offsets[f.name] = f.offset;
    EXPECT_EQ(offsets[u"lSampleSize"], 40u);
    EXPECT_EQ(offsets[u"formattype"], 44u);
    EXPECT_EQ(offsets[u"pbFormat"], 68u);

    AMMediaType t;
    t.majortype = guid("{73647561-0000-0010-8000-00AA00389B71}");
    t.formattype = guid("{05589F81-C356-11CE-BF01-00AA0055595A}");
    t.lSampleSize = 2048;
    t.bFixedSizeSamples = 1;
    t.format = {1, 0, 2, 0};
    auto bytes = t.recordBytes();
    EXPECT_EQ(bytes[0], 0x61); // Data1 little-endian
    EXPECT_EQ(bytes[40], 0x00);
    EXPECT_EQ(bytes[41], 0x08);
    EXPECT_EQ(bytes[64], 4);
    AMMediaType back = AMMediaType::fromRecordBytes(bytes.data(), t.format.data());
    EXPECT_EQ(back.majortype, t.majortype);
    EXPECT_EQ(back.formattype, t.formattype);
    EXPECT_EQ(back.lSampleSize, 2048u);
    EXPECT_EQ(back.format, t.format);
}

// A window object as script sees it, built on the library's description.
class FakeWindow final : public DispatchObject<FakeWindow, ITaviWindow> {
public:
    HRESULT addEventListener(const Bstr& type, IDispatch*, VARIANT_BOOL useCapture) override {
        events.push_back(type.toUtf8() + (useCapture ? "!" : ""));
        return S_OK;
    }
    HRESULT removeEventListener(const Bstr&, IDispatch*, VARIANT_BOOL) override { return S_FALSE; }
    HRESULT setType(TaviWindowTypes t) override {
        type = t;
        return S_OK;
    }
    HRESULT getType(TaviWindowTypes* pVal) override {
        *pVal = type;
        return S_OK;
    }
    HRESULT setApplicationWindow(VARIANT_BOOL) override { return S_OK; }
    HRESULT getApplicationWindow(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT setMinimizedBox(VARIANT_BOOL) override { return S_OK; }
    HRESULT getMinimizedBox(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT setMaximizedBox(VARIANT_BOOL) override { return S_OK; }
    HRESULT getMaximizedBox(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT setResizable(VARIANT_BOOL) override { return S_OK; }
    HRESULT getResizable(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT setAlwaysOnTop(VARIANT_BOOL) override { return S_OK; }
    HRESULT getAlwaysOnTop(VARIANT_BOOL* pVal) override {
        *pVal = VARIANT_FALSE;
        return S_OK;
    }
    HRESULT beginResizing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                          std::int32_t g) override {
        limits = {a, b, c, d, g};
        return S_OK;
    }
    HRESULT abortResizing() override { return S_OK; }
    HRESULT beginMove() override {
        return guard(ITaviWindow::iid, []() -> HRESULT {
            throw DispatchException(u"Invalid state of the mouse or keyboard buttons.");
        });
    }
    HRESULT abortMove() override { return S_OK; }
    HRESULT resizeBy(std::int32_t, std::int32_t) override { return S_OK; }
    HRESULT resizeTo(std::int32_t, std::int32_t) override { return S_OK; }
    HRESULT moveBy(std::int32_t, std::int32_t) override { return S_OK; }
    HRESULT moveTo(std::int32_t, std::int32_t) override { return S_OK; }
    HRESULT minimize() override { return E_ACCESSDENIED; }
    HRESULT maximize() override { return S_OK; }
    HRESULT close() override { return S_OK; }
    HRESULT reload(VARIANT_BOOL) override { return S_OK; }

    std::vector<std::string> events;
    TaviWindowTypes type = wtNormal;
    std::vector<std::int32_t> limits;
};

TEST(NorvViewLib, ScriptCallsReachANativeWindow) {
    ComPtr<FakeWindow> window = makeObject<FakeWindow>();
    ComPtr<IDispatch> disp;
    ASSERT_EQ(window->QueryInterface(IDispatch::iid, disp.putVoid()), S_OK);
    ComPtr<IEventTarget> target;
    ASSERT_EQ(window->QueryInterface(IEventTarget::iid, target.putVoid()), S_OK);

    Variant args[2] = {Variant::fromBstr(Bstr(u"moved")), Variant::null()};
    ASSERT_EQ(invokeByName(target.get(), u"ADDEVENTLISTENER", DISPATCH_METHOD, args, nullptr),
              S_OK);
    EXPECT_EQ(window->events, std::vector<std::string>{"moved"});

    Variant limits[2] = {Variant::fromI4(200), Variant::fromBstr(Bstr(u"150"))};
    ASSERT_EQ(invokeByName(disp.get(), u"beginResizing", DISPATCH_METHOD, limits, nullptr), S_OK);
    EXPECT_EQ(window->limits, (std::vector<std::int32_t>{200, 150, 0, 0, 0}));

    Variant type[1] = {Variant::fromI4(wtCustom)};
    ASSERT_EQ(invokeByName(disp.get(), u"setType", DISPATCH_METHOD, type, nullptr), S_OK);
    Variant out;
    ASSERT_EQ(
        invokeByName(disp.get(), u"getType", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &out),
        S_OK);
    EXPECT_EQ(out.vt(), VT_I4);
    EXPECT_EQ(out.i4(), 3);

    DISPID id = 0;
    ASSERT_EQ(getIdOfName(disp.get(), u"beginMove", id), S_OK);
    DispParams none{};
    ExcepInfo excep;
    EXPECT_EQ(disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, none, nullptr,
                           &excep, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_FAIL);
    EXPECT_EQ(excep.description.toUtf8(), "Invalid state of the mouse or keyboard buttons.");
    EXPECT_EQ(invokeByName(disp.get(), u"minimize", DISPATCH_METHOD, {}, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(invokeByName(disp.get(), u"reload", DISPATCH_METHOD, {}, nullptr),
              DISP_E_BADPARAMCOUNT);
}

} // namespace
