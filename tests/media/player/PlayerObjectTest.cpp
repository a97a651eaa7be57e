// The player object without playback: the merged dispatch and its tagged identifiers,
// `services`, the factory's registration while media services exist, the media service's
// createMediaPlayer over document doubles, and the plugin between the control and the
// page's site.

#include <gtest/gtest.h>

#include "markup/HTMLDocument2.h"
#include "media/player/MPPlayer.h"
#include "media/player/MPPlayerFactory.h"
#include "media/player/SkinPackage.h"
#include "platform/com/ClassTable.h"
#include "script/PageDocument.h"
#include "tests/media/player/TapTestSupport.h"
#include "tests/platform/web/TestObject.h"

using namespace norv::test;
using norv::markup::CLSID_HTMLDocument;
using norv::markup::IHTMLDocument2;
using norv::media::MPPlayer;
using norv::media::MPPlayerFactory;
using norv::script::TaviMedia;

namespace {

class PlayerObjectTest : public ::testing::Test {
protected:
    void SetUp() override { initMedia(); }

    static ComPtr<IUnknown> newControl() {
        ComPtr<IUnknown> c;
        EXPECT_EQ(createInstance(CLSID_MediaPlayer, nullptr, CLSCTX_INPROC_SERVER, c), S_OK);
        return c;
    }
    static bool isPlayerObject(const ComPtr<IUnknown>& c) { return c && c.as<IMPPlayer>(); }
};

DISPID idOf(IDispatch* d, const char16_t* name, HRESULT expected = S_OK) {
    DISPID id = 0;
    EXPECT_EQ(getIdOfName(d, name, id), expected) << std::string(name, name + 3);
    return id;
}

HRESULT invoke(IDispatch* d, DISPID id, std::uint16_t flags, std::vector<Variant> args,
               Variant* result) {
    static const DISPID put[1] = {DISPID_PROPERTYPUT};
    DispParams params{args, {}};
    if (flags == DISPATCH_PROPERTYPUT)
        params.namedArgs = put;
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, nullptr, nullptr);
}

TEST_F(PlayerObjectTest, TheMergedDispatchTagsItsIdentifiersAndReportsEachMembersOwnResult) {
    ComPtr<TaviMedia> media;
    ASSERT_EQ(TaviMedia::create(media), S_OK);
    auto object = newControl();
    ASSERT_TRUE(isPlayerObject(object));
    auto d = object.as<IDispatch>();

    DISPID url = idOf(d.get(), u"url"); // names without regard to case
    EXPECT_EQ(url & 0xFFFF0000, MPPlayer::controlTag);
    EXPECT_EQ(idOf(d.get(), u"services"), 0x10064);
    idOf(d.get(), u"noSuchMember", DISP_E_UNKNOWNNAME);

    Variant result;
    ASSERT_EQ(
        invoke(d.get(), url, DISPATCH_PROPERTYPUT, {Variant::fromBstr(Bstr(u"a.ogg"))}, nullptr),
        S_OK);
    ASSERT_EQ(invoke(d.get(), url, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.bstr().view(), u"a.ogg");
    // The control's own identifier, untagged, reaches it too.
    ASSERT_EQ(invoke(d.get(), url & 0xFFFF, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.bstr().view(), u"a.ogg");
    // A member's failure is its own, not "member not found".
    DISPID uiMode = idOf(d.get(), u"uiMode");
    EXPECT_EQ(
        invoke(d.get(), uiMode, DISPATCH_PROPERTYPUT, {Variant::fromBstr(Bstr(u"bogus"))}, nullptr),
        E_INVALIDARG);
    // DISPID_VALUE goes to the control, which has no such member; so has neither entry
    // for the player's tag with an identifier of the control's.
    EXPECT_EQ(invoke(d.get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {}, &result),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(d.get(), MPPlayer::ownTag | (url & 0xFFFF), DISPATCH_PROPERTYGET, {}, &result),
              DISP_E_MEMBERNOTFOUND);

    // `services` through the dispatch is the same object as through the interface, each
    // time, and so are its parts.
    ASSERT_EQ(invoke(d.get(), 0x10064, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    ASSERT_EQ(result.vt(), VT_DISPATCH);
    ComPtr<IMPPlayerServices> s1, s2;
    ASSERT_EQ(object.as<IMPPlayer>()->get_services(s1.put()), S_OK);
    ASSERT_EQ(object.as<IMPPlayer>()->get_services(s2.put()), S_OK);
    EXPECT_TRUE(sameObject(result.dispatch(), s1.get()));
    EXPECT_EQ(s1.get(), s2.get());
    EXPECT_EQ(s1.as<IDispatch>().get(), static_cast<IDispatch*>(s1.get()));
    ComPtr<IMPStream> st1, st2;
    s1->get_stream(st1.put());
    s2->get_stream(st2.put());
    EXPECT_TRUE(st1 && st1 == st2);

    std::uint32_t count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(d->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    ASSERT_EQ(d->GetTypeInfo(0, 0, &info), S_OK);
    const InterfaceInfo* described = nullptr;
    info->GetInterfaceInfo(&described);
    EXPECT_EQ(described->iid, IMPPlayer::iid);
    info->Release();

    // The control's interfaces come with the player's identity; IOleObject is the
    // player's own.
    auto control = object.as<IMediaPlayer>();
    ASSERT_TRUE(control);
    EXPECT_TRUE(sameObject(control.get(), object.get()));
    EXPECT_EQ(object.as<IDispatch>().get(), static_cast<IDispatch*>(object.as<IMPPlayer>().get()));
}

TEST_F(PlayerObjectTest, TheFactoryIsRegisteredWhileAMediaServiceExists) {
    EXPECT_FALSE(MPPlayerFactory::inSlot());
    EXPECT_FALSE(isPlayerObject(newControl()));
    ComPtr<TaviMedia> first, second;
    ASSERT_EQ(TaviMedia::create(first), S_OK);
    ASSERT_EQ(TaviMedia::create(second), S_OK);
    EXPECT_TRUE(MPPlayerFactory::inSlot());
    auto a = newControl();
    auto b = newControl();
    EXPECT_TRUE(isPlayerObject(a));
    EXPECT_TRUE(isPlayerObject(b));
    EXPECT_FALSE(sameObject(a.as<IMediaPlayer>().get(), b.as<IMediaPlayer>().get()));
    // Aggregation is refused unless IUnknown is asked for.
    ComPtr<IDispatch> aggregated;
    EXPECT_EQ(createInstance(CLSID_MediaPlayer, a.get(), CLSCTX_INPROC_SERVER, aggregated),
              CLASS_E_NOAGGREGATION);

    first.reset();
    EXPECT_TRUE(MPPlayerFactory::inSlot());
    EXPECT_TRUE(isPlayerObject(newControl()));
    second.reset();
    EXPECT_FALSE(MPPlayerFactory::inSlot());
    EXPECT_FALSE(isPlayerObject(newControl()));
    // Players made meanwhile keep working after the factory went.
    ComPtr<IMPPlayerServices> services;
    EXPECT_EQ(a.as<IMPPlayer>()->get_services(services.put()), S_OK);

    ASSERT_EQ(TaviMedia::create(first), S_OK);
    EXPECT_TRUE(MPPlayerFactory::inSlot());
    EXPECT_TRUE(isPlayerObject(newControl()));
}

// ---------------------------------------------------------------------------------------
// createMediaPlayer over document doubles

struct ITestElement : IDispatch {
    static constexpr IID iid = guid("{9E4B9F47-5B9E-4AC1-9A49-3C51C1C0D3A2}");
    using Base = IDispatch;
    virtual HRESULT get_classid(Bstr* pVal) = 0;
    virtual HRESULT put_classid(const Bstr& pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        using I = ITestElement;
        static const InterfaceInfo info =
            describeInterface<I>(u"ITestElement", nullptr, propget(1, u"classid", &I::get_classid),
                                 propput(1, u"classid", &I::put_classid, {u"pVal"}));
        return info;
    }
};

class TestElement final : public DispatchObject<TestElement, ITestElement> {
public:
    explicit TestElement(std::u16string tag) : tag(std::move(tag)) {}
    HRESULT get_classid(Bstr* pVal) override {
        *pVal = classid;
        return S_OK;
    }
    HRESULT put_classid(const Bstr& pVal) override {
        classid = pVal;
        return S_OK;
    }
    std::u16string tag;
    Bstr classid;
};

struct ITestDocument : IDispatch {
    static constexpr IID iid = guid("{3C8F2B70-2C0B-4E8E-9E0B-7D4C4E3C5A11}");
    using Base = IDispatch;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info =
            describeInterface<ITestDocument>(u"ITestDocument", nullptr);
        return info;
    }
};

class TestDocument final
    : public ComObject<TestDocument, DispatchImpl<ITestDocument>, IHTMLDocument2> {
public:
    HRESULT createElement(const Bstr& tag, IDispatch** element) override {
        auto made = makeObject<TestElement>(std::u16string(tag.view()));
        created.push_back(made);
        *element = made.detach();
        return S_OK;
    }
    std::vector<ComPtr<TestElement>> created;
};

TEST_F(PlayerObjectTest, CreateMediaPlayerMakesAnObjectElementOfThePlayersClass) {
    ComPtr<TaviMedia> media;
    ASSERT_EQ(TaviMedia::create(media), S_OK);
    auto document = makeObject<TestDocument>();
    ComPtr<IDispatch> element;
    ASSERT_EQ(media->createMediaPlayer(static_cast<ITestDocument*>(document.get()), element.put()),
              S_OK);
    ASSERT_EQ(document->created.size(), 1u);
    EXPECT_TRUE(sameObject(element.get(), document->created[0].get()));
    EXPECT_EQ(document->created[0]->tag, u"object");
    Variant classid;
    ASSERT_EQ(invokeByName(element.get(), u"classid", DISPATCH_PROPERTYGET, {}, &classid), S_OK);
    EXPECT_EQ(classid.bstr().view(), u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}");

    // Not a document: the failure of the document query.
    auto notADocument = makeObject<TestElement>(u"div");
    EXPECT_EQ(media->createMediaPlayer(notADocument.get(), element.put()), E_NOINTERFACE);
    EXPECT_EQ(media->createMediaPlayer(static_cast<ITestDocument*>(document.get()), nullptr),
              E_POINTER);

    // Null: a new document of the class table's document class, as script passes it.
    EXPECT_EQ(media->createMediaPlayer(nullptr, element.put()), REGDB_E_CLASSNOTREG);
    ComPtr<TestDocument> fresh;
    auto factory = makeClassFactory([&](IUnknown*, const IID& iid, void** out) {
        fresh = makeObject<TestDocument>();
        return fresh->QueryInterface(iid, out);
    });
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerClassObject(CLSID_HTMLDocument, factory.get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    Variant args[1] = {Variant::null()};
    DispParams params{args, {}};
    Variant result;
    ASSERT_EQ(static_cast<IDispatch*>(media.get())
                  ->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, &result,
                           nullptr, nullptr),
              S_OK);
    revokeClassObject(cookie);
    ASSERT_TRUE(fresh);
    ASSERT_EQ(fresh->created.size(), 1u);
    EXPECT_TRUE(sameObject(result.dispatch(), fresh->created[0].get()));
}

TEST_F(PlayerObjectTest, APageDocumentSeenAsAPlainScriptObjectMakesThePlayersElement) {
    // The page's documents reach native code as script objects of the bridge: a node of
    // the document type with createElement, and nothing else.
    auto pageObject = [](std::int32_t nodeType, HRESULT createResult) {
        auto o = makeObject<TestObject>();
        o->property(u"nodeType", Variant::fromI4(nodeType));
        auto made = std::make_shared<std::vector<ComPtr<TestElement>>>();
        o->method(u"createElement", [made, createResult](std::vector<Variant>& args, Variant* r) {
            if (failed(createResult))
                return createResult;
            auto e = makeObject<TestElement>(std::u16string(args.at(0).bstr().view()));
            made->push_back(e);
            *r = Variant::fromDispatch(e.get());
            return S_OK;
        });
        return std::pair{o, made};
    };
    ComPtr<TaviMedia> plain, media;
    ASSERT_EQ(TaviMedia::create(plain), S_OK);
    ASSERT_EQ(TaviMedia::create(media, &norv::script::PageDocument::of), S_OK);

    auto [document, made] = pageObject(9, S_OK);
    ComPtr<IDispatch> element;
    // Without the lookup such an owner is no document.
    EXPECT_EQ(plain->createMediaPlayer(document.get(), element.put()), E_NOINTERFACE);
    ASSERT_EQ(media->createMediaPlayer(document.get(), element.put()), S_OK);
    ASSERT_EQ(made->size(), 1u);
    EXPECT_TRUE(sameObject(element.get(), made->at(0).get()));
    EXPECT_EQ(made->at(0)->tag, u"object");
    EXPECT_EQ(made->at(0)->classid.view(), u"clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}");

    // Another node, or an object with no node type: the document query's own failure.
    auto [elementNode, unused] = pageObject(1, S_OK);
    EXPECT_EQ(media->createMediaPlayer(elementNode.get(), element.put()), E_NOINTERFACE);
    auto noNode = makeObject<TestObject>();
    EXPECT_EQ(media->createMediaPlayer(noNode.get(), element.put()), E_NOINTERFACE);
    EXPECT_FALSE(element);
    // A document that refuses to make the element: its failure.
    auto [refusing, none] = pageObject(9, E_ACCESSDENIED);
    EXPECT_EQ(media->createMediaPlayer(refusing.get(), element.put()), E_ACCESSDENIED);
    EXPECT_TRUE(none->empty());
}

// ---------------------------------------------------------------------------------------
// The plugin between the control and the page's site

TEST_F(PlayerObjectTest, ThePluginPassesSiteCallsOnAndAnswersTheControlsServices) {
    ComPtr<TaviMedia> media;
    ASSERT_EQ(TaviMedia::create(media), S_OK);
    TestPlayer p;
    auto page = makeObject<FakeSite>();
    page->AddRef();
    const std::uint32_t pageRefs = page->Release();
    p.site(page.get());

    // The control got the plugin's site, not the page's.
    ComPtr<IOleClientSite> controlSite;
    auto* player = static_cast<MPPlayer*>(p.player.as<IMPPlayer>().get());
    ASSERT_EQ(player->GetClientSite(controlSite.put()), S_OK);
    ASSERT_TRUE(controlSite);
    EXPECT_FALSE(sameObject(controlSite.get(), page->unknown()));
    // Ordinary site calls reach the page's site, with its results.
    EXPECT_EQ(controlSite->ShowObject(), S_OK);
    EXPECT_EQ(controlSite->SaveObject(), E_NOTIMPL);
    ComPtr<IUnknown> container;
    EXPECT_EQ(controlSite->GetContainer(container.put()), E_NOINTERFACE);

    auto provider = controlSite.as<IServiceProvider>();
    ASSERT_TRUE(provider);
    ComPtr<IRemoteMediaServices> remote;
    EXPECT_EQ(provider->QueryService(IMPPlayer::iid, IRemoteMediaServices::iid, remote.putVoid()),
              E_NOINTERFACE);
    ASSERT_EQ(provider->QueryService(SID_MediaPlayerServices, IRemoteMediaServices::iid,
                                     remote.putVoid()),
              S_OK);
    EXPECT_TRUE(sameObject(remote.get(), controlSite.get()));
    Bstr text;
    EXPECT_EQ(remote->GetServiceType(&text), S_OK);
    EXPECT_EQ(text.view(), u"Local");
    EXPECT_EQ(remote->GetApplicationName(&text), E_NOTIMPL);
    // The custom skin is the process's package, and its script's object the settings part.
    ASSERT_EQ(remote->GetCustomUIMode(&text), S_OK);
    EXPECT_EQ(text.toUtf8(), "file://" + norv::media::SkinPackage::path());
    Bstr name;
    ComPtr<IDispatch> scriptable;
    remote->GetScriptableObject(&name, scriptable.put());
    EXPECT_EQ(name.view(), u"wmpsrv");
    ComPtr<IMPPlayerServices> services;
    ASSERT_EQ(p.player.as<IMPPlayer>()->get_services(services.put()), S_OK);
    ComPtr<norv::typelib::IMPSettings> settings;
    ASSERT_EQ(services->get_settings(settings.put()), S_OK);
    EXPECT_TRUE(sameObject(scriptable.get(), settings.get()));

    ComPtr<IGraphCreation> graph;
    ASSERT_EQ(provider->QueryService(SID_MediaPlayerServices, IGraphCreation::iid, graph.putVoid()),
              S_OK);
    page->calls.clear();
    std::uint32_t flags = 7;
    EXPECT_EQ(graph->GetGraphCreationFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(graph->GraphCreationPostRender(nullptr), S_OK);
    EXPECT_EQ(graph->GraphCreationPreRender(nullptr, nullptr), E_POINTER);
    // The page's own graph hooks are asked first.
    EXPECT_EQ(page->calls, (std::vector<std::string>{"GetGraphCreationFlags"}));

    // Unsited: the page's site is let go of (nothing holds it any more) and site calls
    // have nowhere to go.
    graph.reset();
    remote.reset();
    provider.reset();
    ASSERT_EQ(player->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(controlSite->ShowObject(), OLE_E_BLANK);
    controlSite.reset();
    page->AddRef();
    EXPECT_EQ(page->Release(), pageRefs);
}

} // namespace
