// Elements that host native objects, end to end: real WebKit views under a private X
// session whose pages make player <object> elements (by script and in markup), reach a
// described native test object through their members, get its events as DOM events, have
// their rectangles tracked, and let the object go with the element or the document. And a
// stream filter's call from a worker thread with its bytes in place.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "platform/com/ConnectionPoint.h"
#include "platform/com/DispatchObject.h"
#include "platform/com/ErrorInfo.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/ScriptObject.h"
#include "platform/web/rpc/SharedArea.h"
#include "tests/platform/web/TestObject.h"
#include "tests/support/HttpServer.h"
#include "tests/support/XSession.h"
#include "typelib/NorvViewTypes.h"

using namespace norv::com;
using namespace norv::test;
using namespace std::chrono_literals;
using norv::typelib::AMMediaType;
using norv::web::ElementBox;
using norv::web::ElementId;
using norv::web::ElementObject;
using norv::web::ScriptBridge;
using norv::web::ScriptObject;

namespace {

constexpr CLSID playerClass = guid("{6BF52A52-394A-11D3-B153-00C04F79FAA6}");

struct ITestPlayer : IDispatch {
    static constexpr IID iid = guid("{0E1B3C52-52D4-4F0B-9A61-3D2B8C1F7E01}");
    using Base = IDispatch;

    virtual HRESULT get_URL(Bstr* pVal) = 0;
    virtual HRESULT put_URL(const Bstr& pVal) = 0;
    virtual HRESULT get_playState(std::int32_t* pVal) = 0;
    virtual HRESULT get_controls(IDispatch** pVal) = 0;
    virtual HRESULT add(std::int32_t a, std::int32_t b, std::int32_t* pVal) = 0;
    virtual HRESULT get_gainLevels(std::int32_t iIndex, double* pVal) = 0;
    virtual HRESULT put_gainLevels(std::int32_t iIndex, double pVal) = 0;
    virtual HRESULT getStreamType(std::int32_t type, AMMediaType* pMediaType) = 0;
    virtual HRESULT get_created(Variant* pVal) = 0;
    virtual HRESULT put_created(const Variant& pVal) = 0;
    virtual HRESULT nothingToDo() = 0; // S_FALSE
    virtual HRESULT refuse() = 0;      // E_INVALIDARG with a description
    virtual HRESULT raise(std::int32_t state) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITestPlayer;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITestPlayer", u"Test player", propget(1, u"URL", &I::get_URL),
            propput(1, u"URL", &I::put_URL, {u"pVal"}), propget(2, u"playState", &I::get_playState),
            propget(3, u"controls", &I::get_controls), method(4, u"add", &I::add, {u"a", u"b"}),
            propget(5, u"gainLevels", &I::get_gainLevels, {u"iIndex"}),
            propput(5, u"gainLevels", &I::put_gainLevels, {u"iIndex", u"pVal"}),
            method(6, u"getStreamType", &I::getStreamType, {u"type", u"pMediaType"}),
            propget(7, u"created", &I::get_created), propput(7, u"created", &I::put_created),
            method(8, u"nothingToDo", &I::nothingToDo), method(9, u"refuse", &I::refuse),
            method(10, u"raise", &I::raise, {u"state"}));
        return info;
    }

protected:
    ~ITestPlayer() = default;
};

struct ITestPlayerEvents : IDispatch {
    static constexpr IID iid = guid("{0E1B3C52-52D4-4F0B-9A61-3D2B8C1F7E02}");
    using Base = IDispatch;

    virtual HRESULT PlayStateChange(std::int32_t NewState) = 0;
    virtual HRESULT MediaError(IDispatch* pMediaObject) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITestPlayerEvents;
        static const InterfaceInfo info =
            describeInterface<I>(u"ITestPlayerEvents", u"Test player events",
                                 method(1, u"PlayStateChange", &I::PlayStateChange, {u"NewState"}),
                                 method(2, u"MediaError", &I::MediaError, {u"pMediaObject"}));
        return info;
    }

protected:
    ~ITestPlayerEvents() = default;
};

class TestPlayer final
    : public ComObject<TestPlayer, DispatchImpl<ITestPlayer>, IConnectionPointContainer> {
public:
    static inline int live = 0;

    TestPlayer()
        : events_(makeObject<ConnectionPoint>(ITestPlayerEvents::iid,
                                              static_cast<IConnectionPointContainer*>(this))) {
        ++live;
        for (double& g : gains_)
            g = 0;
        controls_ = makeObject<TestObject>();
        controls_->property(u"position", Variant::fromI4(0));
    }
    ~TestPlayer() override {
        events_->detachContainer();
        --live;
    }

    HRESULT get_URL(Bstr* out) override {
        *out = url_;
        return S_OK;
    }
    HRESULT put_URL(const Bstr& url) override {
        url_ = url;
        state_ = 9;
        return S_OK;
    }
    HRESULT get_playState(std::int32_t* out) override {
        *out = state_;
        return S_OK;
    }
    HRESULT get_controls(IDispatch** out) override {
        *out = controls_.get();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT add(std::int32_t a, std::int32_t b, std::int32_t* out) override {
        *out = a + b;
        return S_OK;
    }
    HRESULT get_gainLevels(std::int32_t index, double* out) override {
        if (index < 0 || index >= 10)
            return E_INVALIDARG;
        *out = gains_[index];
        return S_OK;
    }
    HRESULT put_gainLevels(std::int32_t index, double value) override {
        if (index < 0 || index >= 10)
            return E_INVALIDARG;
        gains_[index] = value;
        return S_OK;
    }
    HRESULT getStreamType(std::int32_t type, AMMediaType* out) override {
        out->majortype = guid("{73647561-0000-0010-8000-00aa00389b71}");
        out->subtype = guid("{00000001-0000-0010-8000-00AA00389B71}");
        out->bFixedSizeSamples = 1;
        out->lSampleSize = static_cast<std::uint32_t>(4 * type);
        out->formattype = guid("{05589f81-c356-11ce-bf01-00aa0055595a}");
        out->format = {1, 0, 2, 0};
        return S_OK;
    }
    HRESULT get_created(Variant* out) override {
        *out = created_;
        return S_OK;
    }
    HRESULT put_created(const Variant& v) override {
        created_ = v;
        return S_OK;
    }
    HRESULT nothingToDo() override { return S_FALSE; }
    HRESULT refuse() override {
        setErrorInfo(ITestPlayer::iid, Bstr(u"Not now."));
        return E_INVALIDARG;
    }
    HRESULT raise(std::int32_t state) override {
        fire(1, Variant::fromI4(state));
        return S_OK;
    }

    void fire(DISPID id, Variant arg) {
        std::vector<ConnectData> sinks;
        events_->EnumConnections(&sinks);
        for (ConnectData& c : sinks) {
            ComPtr<IDispatch> sink;
            if (failed(c.sink->QueryInterface(ITestPlayerEvents::iid, sink.putVoid())))
                continue;
            Variant args[1] = {arg};
            DispParams params{args, {}};
            sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                         nullptr, nullptr);
        }
    }
    std::size_t sinks() {
        std::vector<ConnectData> all;
        events_->EnumConnections(&all);
        return all.size();
    }

    HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>* out) override {
        out->assign(1, ComPtr<IConnectionPoint>(events_));
        return S_OK;
    }
    HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) override {
        *out = nullptr;
        if (iid != ITestPlayerEvents::iid)
            return CONNECT_E_NOCONNECTION;
        return ComPtr<IConnectionPoint>(events_).copyTo(out);
    }

private:
    ComPtr<ConnectionPoint> events_;
    ComPtr<TestObject> controls_;
    Bstr url_{u""};
    std::int32_t state_ = 0;
    double gains_[10];
    Variant created_;
};

std::string utf8(const Variant& v) {
    if (v.vt() == VT_BOOL)
        return v.boolVal() ? "true" : "false";
    Variant s;
    if (failed(changeType(s, v, VT_BSTR)))
        return "<" + std::to_string(v.vt()) + ">";
    return s.bstr().toUtf8();
}

bool pumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 30s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = false;
    while (!(ok = cond()) && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

class ElementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = std::make_unique<XSession>();
        for (const auto& [name, value] : session_->env())
            setenv(name.c_str(), value.c_str(), 1);
        gtk_init(nullptr, nullptr);
        context_ = webkit_web_context_new();
        ScriptBridge::prepareContext(context_);
    }
    static void TearDownTestSuite() {
        g_object_unref(context_);
        context_ = nullptr;
        session_.reset();
    }

    void SetUp() override {
        TestPlayer::live = 0;
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        g_signal_connect(view_, "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED)
                                 ++static_cast<ElementTest*>(self)->loads_;
                         }),
                         this);
        bridge_ = std::make_unique<ScriptBridge>(view_);
        host_ = makeObject<TestObject>();
        host_->method(u"keep", [this](std::vector<Variant>& a, Variant*) {
            kept_.push_back(a.empty() ? Variant() : a[0]);
            return S_OK;
        });
        bridge_->bindScriptValue(u"window.host", ComPtr<IDispatch>(host_.get()));
        norv::web::ElementHandlers handlers;
        handlers.create = [this](ElementId id, const CLSID& clsid, ElementObject& out) {
            classes_.push_back(clsid);
            if (refuse_)
                return E_ACCESSDENIED;
            auto player = makeObject<TestPlayer>();
            players_[id] = player.get();
            out.object = ComPtr<IDispatch>(static_cast<ITestPlayer*>(player.get()));
            out.events = ComPtr<ITypeInfo>(typeInfoOf<ITestPlayerEvents>());
            out.records = {&norv::typelib::amMediaTypeRecordInfo()};
            return S_OK;
        };
        handlers.box = [this](ElementId id, const ElementBox& box) {
            boxes_[id] = box;
        };
        handlers.released = [this](ElementId id) {
            released_.push_back(id);
            players_.erase(id);
        };
        bridge_->setElementHandlers(std::move(handlers));
    }

    void TearDown() override {
        bridge_.reset();
        gtk_widget_destroy(window_);
        kept_.clear();
        host_.reset();
        pumpUntil([] { return TestPlayer::live == 0; }, 5s);
    }

    bool load(const std::string& url) {
        const int before = loads_;
        webkit_web_view_load_uri(view_, url.c_str());
        return pumpUntil([&] { return loads_ > before && bridge_->hasScriptWindow(); });
    }
    bool loadPage(const std::string& body, const std::string& path = "/page",
                  const std::string& style = "") {
        server_.serve(path, "<!DOCTYPE html><html><head><meta charset='utf-8'><style>body { "
                            "margin: 0 } " +
                                style + "</style></head><body>" + body + "</body></html>");
        return load(server_.url(path));
    }
    Variant eval(const std::u16string& code) {
        Variant r;
        HRESULT hr = bridge_->runScript(code, &r);
        EXPECT_EQ(hr, S_OK) << Bstr(code).toUtf8();
        return r;
    }
    std::string evalText(const std::u16string& code) { return utf8(eval(code)); }

    // The only player made so far.
    TestPlayer* onlyPlayer() { return players_.size() == 1 ? players_.begin()->second : nullptr; }

    static inline std::unique_ptr<XSession> session_;
    static inline WebKitWebContext* context_ = nullptr;

    HttpServer server_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<ScriptBridge> bridge_;
    ComPtr<TestObject> host_;
    std::vector<Variant> kept_;
    std::vector<CLSID> classes_;
    std::map<ElementId, TestPlayer*> players_;
    std::map<ElementId, ElementBox> boxes_;
    std::vector<ElementId> released_;
    bool refuse_ = false;
    int loads_ = 0;
};

TEST_F(ElementTest, ElementsInMarkupAndMadeByScriptGetTheirObjects) {
    ASSERT_TRUE(loadPage(
        "<object id='marked' classid='CLSID:{6bf52a52-394a-11d3-b153-00c04f79faa6}'></object>"
        "<object id='other' classid='clsid:{00000000-0000-0000-0000-000000000001}'></object>"
        "<script>var early = typeof marked.URL + ':' + marked.playState;</script>"));
    ASSERT_EQ(players_.size(), 1u);
    EXPECT_EQ(classes_.at(0), playerClass);
    // The element written in the markup had its object before the next script ran; an
    // element of another class is left alone.
    EXPECT_EQ(evalText(u"early"), "string:0");
    EXPECT_EQ(evalText(u"'URL' in other"), "false");

    // Made by script: the members are there in the statement after the insertion.
    EXPECT_EQ(evalText(u"var made = document.createElement('object');"
                       u"made.classid = 'clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}';"
                       u"var before = 'URL' in made;"
                       u"document.body.appendChild(made); made.URL = 'http://a/b.mp4';"
                       u"before + ':' + made.URL + ':' + made.playState + ':' + made.classid"),
              "false:http://a/b.mp4:9:clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}");
    EXPECT_EQ(players_.size(), 2u);
    // Each element has its own object; an element inserted through markup text gets one too.
    EXPECT_EQ(evalText(u"marked.URL"), "");
    eval(u"document.body.insertAdjacentHTML('beforeend', '<div><object id=\"deep\" "
         u"classid=\"clsid:6BF52A52-394A-11D3-B153-00C04F79FAA6\"></object></div>')");
    EXPECT_EQ(evalText(u"deep.add(2, 3)"), "5");
    EXPECT_EQ(players_.size(), 3u);
    // So does one given its classid once it is in the document; one in another document
    // does not.
    EXPECT_EQ(evalText(u"var late = document.createElement('object');"
                       u"document.body.appendChild(late);"
                       u"late.classid = 'clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}';"
                       u"late.add(1, 2)"),
              "3");
    EXPECT_EQ(evalText(u"var away = document.implementation.createHTMLDocument('');"
                       u"var far = away.createElement('object'); away.body.appendChild(far);"
                       u"far.setAttribute('classid', "
                       u"'clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'); 'URL' in far"),
              "false");
    EXPECT_EQ(players_.size(), 4u);

    // A host that cannot make the object leaves the element as it is.
    refuse_ = true;
    EXPECT_EQ(evalText(u"var refused = document.createElement('object');"
                       u"document.body.appendChild(refused);"
                       u"refused.setAttribute('classid', "
                       u"'clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'); 'URL' in refused"),
              "false");
    EXPECT_EQ(classes_.size(), 5u);
    EXPECT_EQ(bridge_->liveElements(), 4u);
}

TEST_F(ElementTest, MembersFollowTheShapesOfTheTypeInformation) {
    ASSERT_TRUE(loadPage("<object id='p' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'>"
                         "</object>"));
    TestPlayer* player = onlyPlayer();
    ASSERT_TRUE(player);
    // Properties are accessors, as the interface spells them; methods are functions.
    EXPECT_EQ(evalText(u"var d = Object.getOwnPropertyDescriptor(p, 'URL');"
                       u"typeof d.get + typeof d.set + typeof p.add + typeof p.gainLevels + "
                       u"Object.keys(p).includes('playState')"),
              "functionfunctionfunctionfunctiontrue");
    EXPECT_EQ(evalText(u"p.URL = 'x.mp3'; p.URL"), "x.mp3");
    EXPECT_EQ(evalText(u"p.add(40, 2)"), "42");
    // An object member is a proxy of the native object.
    EXPECT_EQ(evalText(u"p.controls.position = 7; p.controls.position"), "7");

    // A property with an index: read with the index, written with the value added last.
    EXPECT_EQ(evalText(u"p.gainLevels(3, 0.5); p.gainLevels(3) + ':' + p.gainLevels(4)"), "0.5:0");
    EXPECT_EQ(evalText(u"try { p.gainLevels(11); } catch (e) { e.number }"), "-2147024809");

    // A record result is a plain object with the record's fields.
    EXPECT_EQ(
        evalText(u"var t = p.getStreamType(2); [t.majortype, t.subtype, "
                 u"t.bFixedSizeSamples, t.lSampleSize, t.formattype, t.cbFormat, "
                 u"t.pbFormat instanceof Uint8Array, Array.from(t.pbFormat).join('.')].join()"),
        "{73647561-0000-0010-8000-00AA00389B71},{00000001-0000-0010-8000-00AA00389B71},"
        "1,8,{05589F81-C356-11CE-BF01-00AA0055595A},4,true,1.0.2.0");

    // Dates both ways: 0.0 is 1899-12-30 00:00; before it the fraction still counts forward.
    std::vector<Variant> date{Variant::fromDate(-1.25)};
    ASSERT_EQ(putPropertyByName(static_cast<ITestPlayer*>(player), u"created", date[0]), S_OK);
    EXPECT_EQ(evalText(u"p.created instanceof Date && p.created.toISOString()"),
              "1899-12-29T06:00:00.000Z");
    eval(u"p.created = new Date(Date.UTC(2000, 0, 1, 12))");
    Variant created;
    ASSERT_EQ(player->get_created(&created), S_OK);
    EXPECT_EQ(created.vt(), VT_DATE);
    EXPECT_DOUBLE_EQ(created.r8(), 36526.5);

    // S_FALSE is success; a failure throws with its number and description.
    EXPECT_EQ(evalText(u"p.nothingToDo() === undefined"), "true");
    EXPECT_EQ(evalText(u"try { p.refuse(); 'no' } catch (e) { e.number + ' ' + e.description }"),
              "-2147024809 Not now.");
    // A read-only property cannot be written.
    EXPECT_EQ(evalText(u"try { p.playState = 3; 'no' } catch (e) { typeof e.number }"), "number");
}

TEST_F(ElementTest, ANativeObjectsRecordResultIsAPlainObjectOnceTheRecordIsDescribed) {
    // The same object handed to script as a plain native object, not as an element: its
    // type information names the record, the program describes it once for every page.
    auto loose = makeObject<TestPlayer>();
    bridge_->bindScriptValue(u"window.loose",
                             ComPtr<IDispatch>(static_cast<ITestPlayer*>(loose.get())));
    ScriptBridge::describeRecord(norv::typelib::amMediaTypeRecordInfo());
    ASSERT_TRUE(loadPage("<p>x</p>"));
    EXPECT_EQ(
        evalText(u"var t = loose.getStreamType(2); [t.majortype, t.lSampleSize, t.formattype, "
                 u"t.pUnk, t.cbFormat, Array.from(t.pbFormat).join('.')].join()"),
        "{73647561-0000-0010-8000-00AA00389B71},8,{05589F81-C356-11CE-BF01-00AA0055595A},,4,"
        "1.0.2.0");
    // Other results are as they were.
    EXPECT_EQ(evalText(u"loose.add(40, 2) + ':' + typeof loose.controls"), "42:object");
}

TEST_F(ElementTest, EventsReachThePageAsDomEventsAndThroughTheHandlerProperty) {
    ASSERT_TRUE(loadPage("<object id='p' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'>"
                         "</object><script>var seen = [];"
                         "p.addEventListener('PlayStateChange', function (e) {"
                         "  seen.push('listener:' + e.newState + ':' + (e.target === p)); });"
                         "p.onPlayStateChange = function (e) {"
                         "  seen.push('handler:' + e.newState + ':' + (this === p)); };"
                         "p.addEventListener('MediaError', function (e) {"
                         "  seen.push('error:' + e.pMediaObject.position); });"
                         "</script>"));
    TestPlayer* player = onlyPlayer();
    ASSERT_TRUE(player);
    player->fire(1, Variant::fromI4(3));
    // Delivered before the native call returns: the page has it now.
    EXPECT_EQ(evalText(u"seen.join()"), "handler:3:true,listener:3:true");
    // Raised while the page waits in a call of its own.
    EXPECT_EQ(evalText(u"seen = []; p.raise(8); seen.join()"), "handler:8:true,listener:8:true");
    // An object argument is the native object's proxy.
    auto item = makeObject<TestObject>();
    item->property(u"position", Variant::fromI4(12));
    player->fire(2, Variant::fromDispatch(item.get()));
    EXPECT_EQ(evalText(u"seen.pop()"), "error:12");
    // No handler: only the listeners.
    EXPECT_EQ(evalText(u"seen = []; p.onPlayStateChange = null; p.raise(1); seen.join()"),
              "listener:1:true");
}

TEST_F(ElementTest, TheBoxFollowsScrollResizeRelayoutAndDisplay) {
    ASSERT_TRUE(loadPage("<div id='spacer' style='height: 100px'></div>"
                         "<object id='p' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}' "
                         "style='display: block; width: 50%; height: 120px'></object>"
                         "<div style='height: 2000px'></div>"));
    ASSERT_EQ(players_.size(), 1u);
    const ElementId id = players_.begin()->first;
    auto boxIs = [&](double x, double y, double w, double h, bool visible) {
        return pumpUntil(
            [&] {
                if (!boxes_.count(id))
                    return false;
                ElementBox seen = boxes_[id];
                seen.clip.reset();
                return seen == ElementBox{x, y, w, h, visible};
            },
            10s);
    };
    const double width = std::stod(evalText(u"document.documentElement.clientWidth")) / 2;
    EXPECT_TRUE(boxIs(0, 100, width, 120, true)) << boxes_[id].y << " " << boxes_[id].width;
    eval(u"window.scrollTo(0, 40)");
    EXPECT_TRUE(boxIs(0, 60, width, 120, true)) << boxes_[id].y;
    eval(u"spacer.style.height = '10px'");
    EXPECT_TRUE(boxIs(0, -30, width, 120, true)) << boxes_[id].y;
    eval(u"window.scrollTo(0, 0)");
    gtk_window_resize(GTK_WINDOW(window_), 600, 300);
    ASSERT_TRUE(pumpUntil(
        [&] { return std::stod(evalText(u"document.documentElement.clientWidth")) / 2 > width; }));
    const double wider = std::stod(evalText(u"document.documentElement.clientWidth")) / 2;
    EXPECT_TRUE(boxIs(0, 10, wider, 120, true)) << boxes_[id].width;
    eval(u"p.style.display = 'none'");
    EXPECT_TRUE(boxIs(0, 0, 0, 0, false));
    eval(u"p.style.display = 'block'; p.style.visibility = 'hidden'");
    EXPECT_TRUE(boxIs(0, 10, wider, 120, false));
    eval(u"p.style.visibility = ''");
    EXPECT_TRUE(boxIs(0, 10, wider, 120, true));
    // Nothing around it clips: it can be seen anywhere in the viewport.
    const double height = std::stod(evalText(u"document.documentElement.clientHeight"));
    EXPECT_EQ(boxes_[id].clip, (norv::web::ElementClip{0, 0, wider * 2, height}));
}

TEST_F(ElementTest, TheClipIsTheViewportNarrowedToEveryPaneThatClipsItsOverflow) {
    ASSERT_TRUE(loadPage("<div style='height: 50px'></div>"
                         "<div id='outer' style='margin-left: 20px; width: 300px; height: 200px; "
                         "overflow: auto; border: 5px solid black'>"
                         "<div style='overflow: hidden; height: 150px; padding-top: 30px'>"
                         "<object id='p' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}' "
                         "style='display: block; width: 100px; height: 400px'></object>"
                         "</div><div style='height: 1000px'></div></div>"));
    ASSERT_EQ(players_.size(), 1u);
    const ElementId id = players_.begin()->first;
    auto clipIs = [&](norv::web::ElementClip want) {
        return pumpUntil([&] { return boxes_.count(id) && boxes_[id].clip == want; }, 10s);
    };
    // The outer pane's inside (inside its border, without a scroll bar: none is shown),
    // narrowed by the inner one's box (which starts at the outer pane's padding edge).
    const double outerWidth = std::stod(evalText(u"outer.clientWidth"));
    EXPECT_TRUE(clipIs({25, 55, outerWidth, 180}))
        << boxes_[id].clip->x << " " << boxes_[id].clip->y << " " << boxes_[id].clip->width << " "
        << boxes_[id].clip->height;
    // Scrolling the outer pane moves the inner one up; the clip follows it.
    eval(u"outer.scrollTop = 100");
    EXPECT_TRUE(clipIs({25, 55, outerWidth, 80})) << boxes_[id].clip->height;
    // Out of the outer pane altogether: a clip of no height.
    eval(u"outer.scrollTop = 400");
    EXPECT_TRUE(pumpUntil([&] { return boxes_[id].clip && boxes_[id].clip->height == 0; }, 10s));
}

TEST_F(ElementTest, LeavingTheDocumentAndNavigationReleaseTheObjects) {
    ASSERT_TRUE(loadPage(
        "<object id='a' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'></object>"
        "<object id='b' classid='clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}'></object>"));
    ASSERT_EQ(players_.size(), 2u);
    const ElementId first = players_.begin()->first;
    TestPlayer* b = players_.rbegin()->second;
    EXPECT_EQ(b->sinks(), 1u);

    eval(u"var kept = a; a.remove()");
    ASSERT_TRUE(pumpUntil([&] { return released_.size() == 1; }));
    EXPECT_EQ(released_[0], first);
    EXPECT_TRUE(pumpUntil([] { return TestPlayer::live == 1; }));
    EXPECT_EQ(evalText(u"'URL' in kept"), "false");
    // Back in the document it gets a new object.
    eval(u"document.body.appendChild(kept)");
    EXPECT_EQ(evalText(u"kept.add(1, 1)"), "2");
    EXPECT_EQ(TestPlayer::live, 2);
    // Losing the classid lets go too.
    eval(u"kept.removeAttribute('classid')");
    ASSERT_TRUE(pumpUntil([&] { return released_.size() == 2; }));
    EXPECT_TRUE(pumpUntil([] { return TestPlayer::live == 1; }));

    // A new document releases everything left, and disconnects its events.
    ASSERT_TRUE(loadPage("<p>next</p>", "/next"));
    EXPECT_EQ(released_.size(), 3u);
    EXPECT_EQ(bridge_->liveElements(), 0u);
    EXPECT_TRUE(pumpUntil([] { return TestPlayer::live == 0; }));
}

TEST_F(ElementTest, AWorkerThreadsFilterCallSeesTheBytesInPlaceAndKeepsWhatScriptWrote) {
    ASSERT_TRUE(loadPage("<script>host.keep({ process: function (type, t0, t1, data, size) {"
                         "  var sum = 0; for (var i = 0; i < data.length; i++) {"
                         "    sum += data[i]; data[i] = 255 - data[i]; }"
                         "  return [type, t0, t1, data instanceof Uint8Array, data.length, size,"
                         "          sum].join(); } });</script>"));
    ASSERT_EQ(kept_.size(), 1u);
    ComPtr<IDispatch> filter(kept_[0].dispatch());
    auto area = bridge_->sharedMemory();
    ASSERT_TRUE(area);
    // A block holding several samples: the call names the second one.
    auto block = area->reserve(64);
    ASSERT_TRUE(block);
    std::uint8_t* sample = block->bytes().data() + 16;
    for (int i = 0; i < 8; ++i)
        sample[i] = static_cast<std::uint8_t>(i + 1);
    auto process = [&](std::uint8_t* bytes, std::int32_t size, Variant* result) {
        HRESULT hr = E_FAIL;
        std::thread([&] {
            std::vector<Variant> args{Variant::fromI4(1), Variant::fromR8(0.5),
                                      Variant::fromR8(0.75), Variant::fromByteRef(bytes),
                                      Variant::fromI4(size)};
            hr = invokeByName(filter.get(), u"process", DISPATCH_METHOD, args, result);
        }).join();
        return hr;
    };
    Variant r;
    ASSERT_EQ(process(sample, 8, &r), S_OK);
    EXPECT_EQ(utf8(r), "1,0.5,0.75,true,8,8,36");
    EXPECT_EQ(sample[0], 254);
    EXPECT_EQ(sample[7], 247);
    EXPECT_EQ(block->bytes()[15], 0); // around the sample nothing changed
    EXPECT_EQ(block->bytes()[24], 0);

    // Bytes outside the shared memory are handed over as a copy that comes back.
    std::vector<std::uint8_t> own{10, 20, 30};
    ASSERT_EQ(process(own.data(), 3, &r), S_OK);
    EXPECT_EQ(utf8(r), "1,0.5,0.75,true,3,3,60");
    EXPECT_EQ(own, (std::vector<std::uint8_t>{245, 235, 225}));
    EXPECT_EQ(area->reserved(), 64u); // the copy's room is given back
}

} // namespace
