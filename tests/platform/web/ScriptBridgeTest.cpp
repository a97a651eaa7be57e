// The script bridge end to end: real WebKit views whose pages call native objects through
// libnorv-bridge.so, under a private X session, with pages served over loopback HTTP.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "host/ExtInitScript.h"
#include "platform/com/ErrorInfo.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/ScriptObject.h"
#include "platform/web/rpc/SharedArea.h"
#include "tests/platform/web/TestObject.h"
#include "tests/support/HttpServer.h"
#include "tests/support/XSession.h"

using namespace norv::com;
using namespace norv::test;
using norv::web::ScriptBridge;
using norv::web::ScriptError;
using norv::web::ScriptObject;

namespace {

// The host's bridge script, as the shell runs it.
constexpr const char16_t* extInitScript = norv::host::kExtInitScript;

constexpr HRESULT E_INVALIDARG_ = E_INVALIDARG;

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
    // A ticking source, so that the loop wakes to look at the condition.
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = false;
    while (!(ok = cond()) && std::chrono::steady_clock::now() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

class ScriptBridgeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = std::make_unique<XSession>();
        for (const auto& [name, value] : session_->env())
            setenv(name.c_str(), value.c_str(), 1);
        gtk_init(nullptr, nullptr);
        context_ = webkit_web_context_new();
        // libnorv-bridge.so lies next to this test program.
        ScriptBridge::prepareContext(context_);
    }
    static void TearDownTestSuite() {
        g_object_unref(context_);
        context_ = nullptr;
        session_.reset();
    }

    void SetUp() override {
        TestObject::live = 0;
        host_ = makeObject<TestObject>();
        defineHost(*host_);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        g_signal_connect(view_, "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED)
                                 ++static_cast<ScriptBridgeTest*>(self)->loads_;
                         }),
                         this);
        bridge_ = std::make_unique<ScriptBridge>(view_);
        bridge_->setInitScript(extInitScript);
        bridge_->bindScriptValue(u"window.tavi.host", ComPtr<IDispatch>(host_.get()));
    }

    void TearDown() override {
        bridge_.reset();
        gtk_widget_destroy(window_);
        kept_.clear();
        host_.reset();
        pumpUntil([] { return TestObject::live == 0; }, 5s);
    }

    void defineHost(TestObject& h) {
        h.property(u"value");
        h.property(u"absent", Variant::fromBstr(Bstr()));
        h.property(u"flag", Variant::fromBool(true));
        h.getter(u"self", [&h](auto&, Variant* r) {
            *r = Variant::fromDispatch(&h);
            return S_OK;
        });
        h.getter(u"failing", [](auto&, Variant*) {
            setErrorInfo(IID_NULL, Bstr(u"The getter failed."));
            return E_FAIL;
        });
        h.method(u"add", [](std::vector<Variant>& a, Variant* r) {
            Variant x, y;
            if (a.size() != 2 || failed(changeType(x, a[0], VT_R8)) ||
                failed(changeType(y, a[1], VT_R8)))
                return E_INVALIDARG;
            *r = Variant::fromR8(x.r8() + y.r8());
            return S_OK;
        });
        h.method(u"echo", [](std::vector<Variant>& a, Variant* r) {
            *r = a.empty() ? Variant() : a[0];
            return S_OK;
        });
        h.method(u"fail", [](std::vector<Variant>& a, Variant*) {
            if (a.size() > 1)
                setErrorInfo(IID_NULL, a[1].bstr());
            return a.empty() ? E_FAIL : a[0].i4();
        });
        h.method(u"keep", [this](std::vector<Variant>& a, Variant*) {
            kept_.push_back(a.empty() ? Variant() : a[0]);
            return S_OK;
        });
        h.method(u"make", [](std::vector<Variant>&, Variant* r) {
            auto o = makeObject<TestObject>();
            o->property(u"value");
            *r = Variant::fromDispatch(o.get());
            return S_OK;
        });
        // viaWorker(fn, x): fn(x), called from another thread while this one waits for it
        // without serving anything.
        h.method(u"viaWorker", [](std::vector<Variant>& a, Variant* r) {
            if (a.size() != 2 || a[0].vt() != VT_DISPATCH)
                return E_INVALIDARG;
            ComPtr<IDispatch> fn(a[0].dispatch());
            const Variant arg = a[1];
            HRESULT hr = E_FAIL;
            std::thread([&] { hr = callDefault(fn.get(), {arg}, r); }).join();
            return hr;
        });
        // callBack(fn, x): calls the script function before returning, and adds one.
        h.method(u"callBack", [](std::vector<Variant>& a, Variant* r) {
            if (a.size() != 2 || a[0].vt() != VT_DISPATCH)
                return E_INVALIDARG;
            Variant inner, n;
            HRESULT hr = callDefault(a[0].dispatch(), {a[1]}, &inner);
            if (failed(hr))
                return hr;
            if (failed(changeType(n, inner, VT_R8)))
                return DISP_E_TYPEMISMATCH;
            *r = Variant::fromR8(n.r8() + 1);
            return S_OK;
        });
    }

    // Loads `path` from the test server and waits until its document has the bridge
    // and has finished loading.
    bool load(const std::string& url) {
        const int before = loads_;
        webkit_web_view_load_uri(view_, url.c_str());
        return pumpUntil([&] { return loads_ > before && bridge_->hasScriptWindow(); });
    }
    bool loadPage(const std::string& body, const std::string& path = "/page") {
        server_.serve(path, "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>" +
                                body + "</body></html>");
        return load(server_.url(path));
    }

    Variant eval(const std::u16string& code) {
        Variant r;
        HRESULT hr = bridge_->runScript(code, &r);
        EXPECT_EQ(hr, S_OK) << Bstr(code).toUtf8();
        return r;
    }
    std::string evalText(const std::u16string& code) { return utf8(eval(code)); }

    static inline std::unique_ptr<XSession> session_;
    static inline WebKitWebContext* context_ = nullptr;

    HttpServer server_;
    ComPtr<TestObject> host_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<ScriptBridge> bridge_;
    std::vector<Variant> kept_;
    int loads_ = 0;
};

TEST_F(ScriptBridgeTest, PageReadsWritesAndCallsNativeMembers) {
    ASSERT_TRUE(loadPage("<p>plain</p>"));
    // The bridge script ran before the values were set.
    EXPECT_EQ(evalText(u"typeof tavi.windowTypes + typeof window.getAttributes"), "objectfunction");

    EXPECT_EQ(evalText(u"tavi.host.value = 42; tavi.host.value"), "42");
    EXPECT_EQ(host_->value(u"value").vt(), VT_I4);
    EXPECT_EQ(evalText(u"tavi.host.value = 2.5; typeof tavi.host.value"), "number");
    EXPECT_EQ(host_->value(u"value").vt(), VT_R8);
    host_->value(u"value") = Variant::fromBstr(Bstr(u"from native"));
    EXPECT_EQ(evalText(u"tavi.host.value"), "from native");
    // Names are the native object's: matched without regard to case.
    EXPECT_EQ(evalText(u"tavi.host.VALUE"), "from native");

    EXPECT_EQ(evalText(u"tavi.host.add(2, 3.5)"), "5.5");
    EXPECT_EQ(evalText(u"typeof tavi.host.add + (tavi.host.add === tavi.host.add)"),
              "functiontrue");
    EXPECT_EQ(evalText(u"var f = tavi.host.add; f(1, 1)"), "2");
    EXPECT_EQ(evalText(u"tavi.host.echo('a\\u0000b\\u00e9').length"), "4");
    EXPECT_EQ(evalText(u"tavi.host.echo('a\\u0000b\\u00e9') === 'a\\u0000b\\u00e9'"), "true");
    EXPECT_EQ(evalText(u"tavi.host.flag === true && tavi.host.absent === null"), "true");
    EXPECT_EQ(evalText(u"[tavi.host.echo(), tavi.host.echo(null), tavi.host.echo(-7)].join()"),
              ",,-7");
    // Unknown members read as undefined and are not "in" the object.
    EXPECT_EQ(evalText(u"typeof tavi.host.nothing + ('add' in tavi.host) + ('nothing' in "
                       u"tavi.host)"),
              "undefinedtruefalse");
    EXPECT_EQ(evalText(u"typeof tavi.host + String(tavi.host).length"), "object15");
}

TEST_F(ScriptBridgeTest, FailuresThrowErrorsWithNumberAndDescription) {
    ASSERT_TRUE(loadPage("<p>errors</p>"));
    const std::u16string describe =
        u"function d(f) { try { f(); return 'no error'; } catch (e) { return [e instanceof "
        u"Error, e.number, e.description, e.message].join('|'); } }";
    eval(describe);
    EXPECT_EQ(evalText(u"d(function() { tavi.host.fail(-2147024809, 'Bad argument here.'); })"),
              "true|-2147024809|Bad argument here.|Bad argument here.");
    // Without error information the system's text for the code is used.
    EXPECT_EQ(evalText(u"d(function() { tavi.host.fail(-2147024809); })"),
              "true|-2147024809|The parameter is incorrect.|The parameter is incorrect.");
    EXPECT_EQ(evalText(u"d(function() { return tavi.host.failing; })"),
              "true|-2147467259|The getter failed.|The getter failed.");
    // Bad arguments to a native method.
    EXPECT_EQ(evalText(u"d(function() { tavi.host.add('x'); })").substr(0, 17),
              "true|-2147024809|");
    // Writing a member that does not exist.
    EXPECT_EQ(evalText(u"d(function() { tavi.host.nothing = 1; })").substr(0, 17),
              "true|-2147352570|");
    (void)E_INVALIDARG_;
}

TEST_F(ScriptBridgeTest, ObjectsKeepTheirIdentityBothWays) {
    ASSERT_TRUE(loadPage("<p>identity</p>"));
    EXPECT_EQ(evalText(u"tavi.host.self === tavi.host && tavi.host.echo(tavi.host) === tavi.host"),
              "true");
    EXPECT_EQ(evalText(u"var o = {a: 1}; var g = function() {}; tavi.host.echo(o) === o && "
                       u"tavi.host.echo(g) === g"),
              "true");
    // The same script object twice is the same dispatch pointer natively, and a native
    // object handed back is the original.
    eval(u"tavi.host.keep(o); tavi.host.keep(o); tavi.host.keep(tavi.host); tavi.host.keep({})");
    ASSERT_EQ(kept_.size(), 4u);
    ASSERT_EQ(kept_[0].vt(), VT_DISPATCH);
    EXPECT_EQ(kept_[0].dispatch(), kept_[1].dispatch());
    EXPECT_EQ(kept_[2].dispatch(), static_cast<IDispatch*>(host_.get()));
    EXPECT_NE(kept_[3].dispatch(), kept_[0].dispatch());
}

TEST_F(ScriptBridgeTest, ScriptFunctionsAndObjectsAreDispatchObjects) {
    ASSERT_TRUE(loadPage("<p>callbacks</p>"));
    eval(u"var seen = []; var cfg = {n: 1}; tavi.host.keep(function(a, b) { seen.push(this === "
         u"window); return a + '-' + b; }); tavi.host.keep(cfg); tavi.host.keep(function() { "
         u"throw new Error('boom'); }); tavi.host.keep(function() { var e = new Error('coded'); "
         u"e.number = -2147024809; throw e; })");
    ASSERT_EQ(kept_.size(), 4u);

    // DISPID 0 calls the function.
    Variant r;
    EXPECT_EQ(
        callDefault(kept_[0].dispatch(), {Variant::fromBstr(Bstr(u"x")), Variant::fromI4(7)}, &r),
        S_OK);
    EXPECT_EQ(utf8(r), "x-7");
    EXPECT_EQ(evalText(u"seen.join()"), "true");

    // Named members of a script object: read, write, call.
    IDispatch* cfg = kept_[1].dispatch();
    DISPID id = 0;
    ASSERT_EQ(getIdOfName(cfg, u"n", id), S_OK);
    Variant n;
    std::vector<Variant> none;
    ASSERT_EQ(invokeByName(cfg, u"n", DISPATCH_PROPERTYGET, none, &n), S_OK);
    EXPECT_EQ(utf8(n), "1");
    std::vector<Variant> five{Variant::fromI4(5)};
    ASSERT_EQ(invokeByName(cfg, u"n", DISPATCH_PROPERTYPUT, five, nullptr), S_OK);
    EXPECT_EQ(evalText(u"cfg.n"), "5");
    EXPECT_EQ(getIdOfName(cfg, u"missing", id), DISP_E_UNKNOWNNAME);
    eval(u"cfg.twice = function(v) { return v * 2 * this.n; }");
    std::vector<Variant> three{Variant::fromI4(3)};
    ASSERT_EQ(invokeByName(cfg, u"twice", DISPATCH_METHOD, three, &r), S_OK);
    EXPECT_EQ(utf8(r), "30");

    // A script exception is DISP_E_EXCEPTION with its message, and its number when it has one.
    ExcepInfo excep;
    EXPECT_EQ(callDefault(kept_[2].dispatch(), {}, &r, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.description.toUtf8(), "boom");
    EXPECT_EQ(excep.scode, E_FAIL);
    EXPECT_EQ(callDefault(kept_[3].dispatch(), {}, &r, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_INVALIDARG);
}

TEST_F(ScriptBridgeTest, CallsNestBothWaysWithoutDeadlock) {
    ASSERT_TRUE(loadPage("<p>reentrancy</p>"));
    // script -> native -> script -> native
    EXPECT_EQ(evalText(u"tavi.host.callBack(function(v) { return tavi.host.add(v, 10); }, 5)"),
              "16");
    // native -> script -> native -> script -> native, four levels deep.
    eval(u"tavi.host.keep(function(v) { return tavi.host.callBack(function(w) { return "
         u"tavi.host.add(w, 100); }, v); })");
    ASSERT_EQ(kept_.size(), 1u);
    Variant r;
    ASSERT_EQ(callDefault(kept_[0].dispatch(), {Variant::fromI4(1)}, &r), S_OK);
    EXPECT_EQ(utf8(r), "102");
    // A native failure deep inside surfaces as a script error at the top, and the
    // bridge goes on working.
    EXPECT_EQ(evalText(u"try { tavi.host.callBack(function() { tavi.host.fail(-2147024809, "
                       u"'inner'); }, 0); 'none' } catch (e) { e.number + e.description }"),
              "-2147352567inner");
    EXPECT_EQ(evalText(u"tavi.host.add(1, 2)"), "3");
}

TEST_F(ScriptBridgeTest, NativeObjectsAreReleasedWhenScriptDropsThemAndWithThePage) {
    ASSERT_TRUE(loadPage("<p>lifetime</p>"));
    const int base = TestObject::live; // the host
    eval(u"for (var i = 0; i < 40; i++) tavi.host.make().value = i; window.held = "
         u"tavi.host.make(); 0");
    EXPECT_GT(TestObject::live, base + 1);
    // Garbage collection lets the dropped ones go; the one the page holds stays. Pages
    // cannot ask for a collection: allocate, keeping some of it for a while so that
    // the older objects are collected too.
    EXPECT_TRUE(pumpUntil([&] {
        eval(u"(function() { var b = window.ballast || (window.ballast = []); for (var i = 0; i "
             u"< 100; i++) b.push(new Array(10000).fill(i)); if (b.length > 3000) b.length = 0; "
             u"})()");
        return TestObject::live == base + 1;
    })) << TestObject::live;
    eval(u"window.ballast = null");
    EXPECT_EQ(evalText(u"held.value = 'still'; held.value"), "still");
    EXPECT_EQ(bridge_->liveNativeObjects(), 2u); // host and held

    // A new document releases everything the old one held.
    ASSERT_TRUE(loadPage("<p>next</p>", "/next"));
    EXPECT_EQ(TestObject::live, base);
    EXPECT_EQ(bridge_->liveNativeObjects(), 1u);
    EXPECT_EQ(evalText(u"tavi.host.add(1, 1)"), "2");

    // So does the web process going away.
    eval(u"window.again = tavi.host.make()");
    EXPECT_EQ(TestObject::live, base + 1);
    webkit_web_view_terminate_web_process(view_);
    EXPECT_TRUE(pumpUntil([&] { return TestObject::live == base; }));
    EXPECT_FALSE(bridge_->hasScriptWindow());
    EXPECT_EQ(bridge_->runScript(u"1", nullptr), E_ACCESSDENIED);
    // And a reload brings the bridge back.
    ASSERT_TRUE(loadPage("<p>back</p>", "/back"));
    EXPECT_EQ(evalText(u"tavi.host.add(2, 2)"), "4");
}

TEST_F(ScriptBridgeTest, ScriptObjectsHeldNativelyAreReleasedToThePage) {
    ASSERT_TRUE(loadPage("<p>script objects</p>"));
    eval(u"tavi.host.keep({}); tavi.host.keep(function() {})");
    EXPECT_EQ(bridge_->liveScriptObjects(), 2u);
    kept_.clear();
    EXPECT_EQ(bridge_->liveScriptObjects(), 0u);
    // Once released, a function handed again is a new wrapper that still works.
    eval(u"var fn = function() { return 'again'; }; tavi.host.keep(fn)");
    kept_.clear();
    eval(u"tavi.host.keep(fn)");
    Variant r;
    ASSERT_EQ(callDefault(kept_[0].dispatch(), {}, &r), S_OK);
    EXPECT_EQ(utf8(r), "again");
    // A wrapper whose document is gone fails.
    ComPtr<IDispatch> old(kept_[0].dispatch());
    ASSERT_TRUE(loadPage("<p>other</p>", "/other"));
    EXPECT_EQ(callDefault(old.get(), {}, &r), norv::web::RPC_E_DISCONNECTED);
}

TEST_F(ScriptBridgeTest, PageKeepsItsOwnTaviAndFramesGetNoBridge) {
    server_.serve("/frame", "<script>parent.frameSaw = typeof window.tavi + ',' + typeof "
                            "window.getAttributes;</script>");
    ASSERT_TRUE(
        loadPage("<script>window.tavi = {mine: 7};</script><iframe src='/frame'></iframe>"));
    EXPECT_EQ(evalText(u"tavi.mine + ',' + (tavi.host === tavi.host.self) + ',' + typeof "
                       u"tavi.windowTypes"),
              "7,true,undefined");
    ASSERT_TRUE(pumpUntil([&] { return evalText(u"typeof frameSaw") == "string"; }));
    EXPECT_EQ(evalText(u"frameSaw"), "undefined,undefined");

    // A classic global declaration replaces it the same way.
    ASSERT_TRUE(loadPage("<script>var tavi = {also: 1};</script>", "/var"));
    EXPECT_EQ(evalText(u"tavi.also + ',' + typeof tavi.host.add"), "1,function");

    // setScriptValue creates missing pieces and refuses to walk through non-objects.
    EXPECT_EQ(bridge_->setScriptValue(u"window.a.b..c", Variant::fromI4(3)), S_OK);
    EXPECT_EQ(evalText(u"a.b.c"), "3");
    EXPECT_EQ(bridge_->setScriptValue(u"window.a.b.c.d", Variant::fromI4(3)), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bridge_->setScriptValue(u"..", Variant::fromI4(3)), E_INVALIDARG);
}

TEST_F(ScriptBridgeTest, UncaughtScriptErrorsReachTheHost) {
    std::vector<ScriptError> errors;
    bridge_->setScriptErrorHandler([&](const ScriptError& e) {
        errors.push_back(e);
        return true;
    });
    ASSERT_TRUE(loadPage("<script>\nvar seen = 0; window.onerror = function(m) { ++seen; return "
                         "m.indexOf('handled') >= 0; };\nsetTimeout(function() { throw new "
                         "Error('handled one'); }, 0);\nsetTimeout(function() { throw new "
                         "Error('boom'); }, 0);\n</script>"));
    ASSERT_TRUE(pumpUntil([&] { return !errors.empty(); }));
    // Both errors went through the page; its own handler kept the first one.
    ASSERT_TRUE(pumpUntil([&] { return evalText(u"String(seen)") == "2"; }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].message.toUtf8().find("boom"), std::string::npos);
    EXPECT_EQ(errors[0].line, 4);
    EXPECT_GT(errors[0].character, 0);
    EXPECT_EQ(errors[0].url.toUtf8(), server_.url("/page"));
}

TEST_F(ScriptBridgeTest, BridgeDestroyedWhileSettingUpTheDocumentGoesNoFurther) {
    // The page's setter of a bound value calls native code that destroys the bridge while
    // the bridge is still setting up the document.
    bool dropped = false;
    bool readyAfterDrop = false;
    auto dropper = makeObject<TestObject>();
    dropper->method(u"drop", [&](auto&, Variant*) {
        bridge_.reset();
        dropped = true;
        return S_OK;
    });
    bridge_->setInitScript(std::u16string(extInitScript) +
                           u";Object.defineProperty(window, 'probe', {set: function(v) { "
                           u"v.drop(); }});");
    bridge_->bindScriptValue(u"window.probe", ComPtr<IDispatch>(dropper.get()));
    bridge_->setScriptWindowReadyHandler([&](const Bstr&) { readyAfterDrop = dropped; });
    server_.serve("/page", "<!DOCTYPE html><html><body><p>dropped</p></body></html>");
    webkit_web_view_load_uri(view_, server_.url("/page").c_str());
    ASSERT_TRUE(pumpUntil([&] { return dropped && loads_ > 0; }));
    EXPECT_FALSE(readyAfterDrop);
    dropper.reset();
}

TEST_F(ScriptBridgeTest, NewWebProcessAfterCrossSiteNavigationGetsTheBridge) {
    ASSERT_TRUE(loadPage("<p>first</p>"));
    eval(u"window.held = tavi.host.make()");
    const int withHeld = TestObject::live;
    std::string other = server_.url("/second");
    other.replace(other.find("127.0.0.1"), 9, "localhost");
    server_.serve("/second", "<p>second</p>");
    ASSERT_TRUE(load(other));
    EXPECT_EQ(evalText(u"location.hostname + tavi.host.add(20, 3)"), "localhost23");
    EXPECT_TRUE(pumpUntil([&] { return TestObject::live == withHeld - 1; }));
}

TEST_F(ScriptBridgeTest, RequestsCarryTheUserAgentGivenToTheView) {
    // The test never changes the view's setting: this is WebKit's own header.
    const std::string own = webkit_settings_get_user_agent(webkit_web_view_get_settings(view_));
    server_.serve("/probe", "ok", "text/plain");
    auto probe = [&](const std::string& n) {
        auto request = server_.waitFor(
            [&](const HttpRequest& r) { return r.path == "/probe" && r.param("n") == n; });
        return request ? request->header("user-agent") : "<no request " + n + ">";
    };
    host_->method(u"agent", [this](std::vector<Variant>& a, Variant*) {
        if (a.size() != 1 || a[0].vt() != VT_BSTR)
            return E_INVALIDARG;
        return ScriptBridge::setRequestUserAgent(view_, a[0].bstr().toUtf8());
    });

    // Given before the page connects, it is there from the document's first script on.
    ASSERT_EQ(ScriptBridge::setRequestUserAgent(view_, "Early/1 (x; y)"), S_OK);
    ASSERT_TRUE(loadPage("<script>fetch('/probe?n=early');</script>"));
    EXPECT_EQ(probe("early"), "Early/1 (x; y)");

    // Changed during a call from script, it holds for the very next request of the same
    // turn; the empty text gives WebKit's own header back at once.
    EXPECT_EQ(evalText(u"tavi.host.agent('Next/2'); fetch('/probe?n=next');"
                       u"new Image().src = '/probe?n=image';"
                       u"tavi.host.agent(''); fetch('/probe?n=own'); 'started'"),
              "started");
    EXPECT_EQ(probe("next"), "Next/2");
    EXPECT_EQ(probe("image"), "Next/2");
    EXPECT_EQ(probe("own"), own);

    // A text that would end the header early is refused; the request goes out with
    // WebKit's own header and nothing smuggled in.
    EXPECT_EQ(evalText(u"var n = 0; tavi.host.agent('Next/3');"
                       u"try { tavi.host.agent('Bad/1\\r\\nX-Smuggled: 1'); }"
                       u"catch (e) { n = e.number; } fetch('/probe?n=bad'); n"),
              std::to_string(static_cast<std::int32_t>(E_INVALIDARG)));
    EXPECT_EQ(probe("bad"), own);
    EXPECT_EQ(server_.count([](const HttpRequest& r) { return !r.header("x-smuggled").empty(); }),
              0u);

    // The text stays with the view: the next document, here in the same web process,
    // carries it on every request, the document's own included.
    ASSERT_EQ(ScriptBridge::setRequestUserAgent(view_, "Kept/4"), S_OK);
    server_.serve("/next", "<script>fetch('/probe?n=kept');</script>");
    ASSERT_TRUE(load(server_.url("/next")));
    EXPECT_EQ(probe("kept"), "Kept/4");
    auto document = server_.waitForPath("/next");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->header("user-agent"), "Kept/4");
}

TEST_F(ScriptBridgeTest, ViewsWithoutBridgeLoadNormally) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* plain = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(plain));
    gtk_widget_show_all(window);
    server_.serve("/plain", "<script>document.title = 'tavi:' + typeof window.tavi;</script>");
    webkit_web_view_load_uri(plain, server_.url("/plain").c_str());
    EXPECT_TRUE(pumpUntil([&] {
        const char* title = webkit_web_view_get_title(plain);
        return title && std::string(title) == "tavi:undefined";
    }));
    gtk_widget_destroy(window);
}

// The script function kept at `index` as the bridge's own wrapper, to call it with a
// deadline.
ComPtr<ScriptObject> wrapperOf(const Variant& v) {
    ComPtr<ScriptObject> wrapper;
    if (v.vt() == VT_DISPATCH && v.dispatch())
        v.dispatch()->QueryInterface(ScriptObject::privateIid, wrapper.putVoid());
    return wrapper;
}

TEST_F(ScriptBridgeTest, APageConnectingWhileItsLongUserAgentIsSentLoads) {
    // The greeting and a user agent larger than the socket holds go out while the page
    // already asks for its document to be set up: its request must not be left behind.
    const std::string agent = "Long/1 (" + std::string(768 * 1024, 'x') + ")";
    ASSERT_EQ(ScriptBridge::setRequestUserAgent(view_, agent), S_OK);
    server_.serve("/probe", "ok", "text/plain");
    ASSERT_TRUE(loadPage("<script>fetch('/probe?n=long');</script>"));
    EXPECT_EQ(evalText(u"tavi.host.add(1, 2)"), "3");
    auto request = server_.waitFor(
        [](const HttpRequest& r) { return r.path == "/probe" && r.param("n") == "long"; });
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("user-agent"), agent);

    // A second view, in a web process of its own, with the same text.
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* second = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(second));
    gtk_widget_show_all(window);
    ASSERT_EQ(ScriptBridge::setRequestUserAgent(second, agent), S_OK);
    {
        ScriptBridge bridge(second);
        bridge.setInitScript(u"window.tavi = {};");
        bridge.bindScriptValue(u"window.tavi.host", ComPtr<IDispatch>(host_.get()));
        webkit_web_view_load_uri(second, server_.url("/page").c_str());
        ASSERT_TRUE(pumpUntil([&] { return bridge.hasScriptWindow(); }));
        Variant r;
        EXPECT_EQ(bridge.runScript(u"tavi.host.add(2, 2)", &r), S_OK);
        EXPECT_EQ(utf8(r), "4");
    }
    gtk_widget_destroy(window);
}

TEST_F(ScriptBridgeTest, StringsArriveExactlyAsSentLoneSurrogatesIncluded) {
    ASSERT_TRUE(loadPage("<p>texts</p>"));
    // Script to native and back.
    EXPECT_EQ(
        evalText(u"var odd = ['ab\\uD800cd', 'x\\uDC00\\uD800y', '\\uDFFF', 'a\\u0000\\uD83D'];"
                 u"odd.map(function(s) { var r = tavi.host.echo(s); return r === s ? "
                 u"r.length : 'changed:' + r.length; }).join()"),
        "5,4,1,3");
    eval(u"tavi.host.keep('a\\uD800b')");
    ASSERT_EQ(kept_.size(), 1u);
    EXPECT_EQ(kept_[0].bstr().str(), std::u16string(u"a\xD800"
                                                    u"b"));
    // Native to script.
    host_->value(u"value") = Variant::fromBstr(Bstr(std::u16string(u"q\xDFFF"
                                                                   u"q")));
    EXPECT_EQ(evalText(u"tavi.host.value.length + ':' + tavi.host.value.charCodeAt(1)"), "3:57343");
    // Code with a lone surrogate of its own in a literal.
    EXPECT_EQ(evalText(std::u16string(u"('\xD800' + '!')") + u".charCodeAt(0)"), "55296");

    // A name that is not the native one does not resolve to it.
    EXPECT_EQ(evalText(u"[typeof tavi.host['value\\uD800'], 'value\\uD800' in tavi.host, "
                       u"'value' in tavi.host].join()"),
              "undefined,false,true");
    EXPECT_EQ(evalText(u"try { tavi.host['value\\uD800'] = 1; 'set' } catch (e) { e.number }"),
              "-2147352570");

    // Names and texts of script objects seen natively.
    eval(u"var cfg = {'k\\uD800': 5, k: 6}; tavi.host.keep(cfg); tavi.host.keep(function() { "
         u"throw new Error('bad \\uDC00 news'); })");
    ASSERT_EQ(kept_.size(), 3u);
    Variant r;
    std::vector<Variant> none;
    ASSERT_EQ(invokeByName(kept_[1].dispatch(), std::u16string(u"k\xD800"), DISPATCH_PROPERTYGET,
                           none, &r),
              S_OK);
    EXPECT_EQ(utf8(r), "5");
    ExcepInfo excep;
    EXPECT_EQ(callDefault(kept_[2].dispatch(), {}, &r, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.description.str(), std::u16string(u"bad \xDC00 news"));
    // A native failure's text reaches script as it was.
    EXPECT_EQ(evalText(u"try { tavi.host.fail(-2147024809, 'no \\uD800 way'); } catch (e) { "
                       u"e.description === 'no \\uD800 way' }"),
              "true");
}

TEST_F(ScriptBridgeTest, OtherThreadsCallScriptWhileTheUiThreadIsBlocked) {
    ASSERT_TRUE(loadPage("<p>threads</p>"));
    eval(u"tavi.host.keep(function(x) { return x * 2; })");
    ASSERT_EQ(kept_.size(), 1u);
    IDispatch* twice = kept_[0].dispatch();

    // The UI thread waits for the worker without serving anything: the worker still gets
    // its reply, from the idle page.
    Variant r;
    HRESULT hr = E_FAIL;
    std::thread([&] { hr = callDefault(twice, {Variant::fromI4(21)}, &r); }).join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(utf8(r), "42");

    // The page waits for a native call of its own whose answer needs such a worker call:
    // the page serves the worker meanwhile.
    EXPECT_EQ(evalText(u"tavi.host.viaWorker(function(x) { return x + '!'; }, 'hi')"), "hi!");

    // Many threads at once, each with its own answer.
    std::vector<std::future<std::string>> results;
    for (int i = 0; i < 8; ++i) {
        results.push_back(std::async(std::launch::async, [twice, i] {
            Variant out;
            for (int k = 0; k < 20; ++k) {
                if (failed(callDefault(twice, {Variant::fromI4(i * 100 + k)}, &out)) ||
                    utf8(out) != std::to_string(2 * (i * 100 + k)))
                    return std::string("wrong at ") + std::to_string(k);
            }
            return std::string("ok");
        }));
    }
    for (auto& f : results)
        EXPECT_EQ(f.get(), "ok");
}

TEST_F(ScriptBridgeTest, AWorkerCallThatNeedsTheBlockedUiThreadEndsWithoutDeadlock) {
    server_.serve("/mark", "ok", "text/plain");
    ASSERT_TRUE(loadPage("<p>deadlock</p>"));
    // The script function needs the UI thread (a native call), which waits for the worker.
    eval(u"tavi.host.keep(function(n) { fetch('/mark?n=' + n); return tavi.host.add(n, 1); })");
    ASSERT_EQ(kept_.size(), 1u);
    auto fn = wrapperOf(kept_[0]);
    ASSERT_TRUE(fn);

    // Its deadline passes: the call is skipped.
    Variant r;
    HRESULT hr = S_OK;
    std::thread([&] {
        hr = fn->callUntil(std::chrono::steady_clock::now() + 300ms, {Variant::fromI4(1)}, &r);
    }).join();
    EXPECT_EQ(hr, norv::web::RPC_E_TIMEOUT);

    // Or the UI thread releases it at once, as before a pipeline state change.
    std::thread worker([&] {
        hr = fn->callUntil(std::chrono::steady_clock::now() + 60s, {Variant::fromI4(2)}, &r);
    });
    ASSERT_TRUE(server_.waitFor([](const HttpRequest& q) { return q.param("n") == "2"; }));
    {
        auto hold = bridge_->holdWorkerCalls();
        ASSERT_TRUE(hold);
        worker.join();
        EXPECT_EQ(hr, norv::web::RPC_E_CALL_CANCELED);
        // While held, new calls from other threads fail at once.
        std::thread([&] { hr = callDefault(fn.get(), {Variant::fromI4(3)}, &r); }).join();
        EXPECT_EQ(hr, norv::web::RPC_E_CALL_CANCELED);
    }
    // The page's own calls, left waiting meanwhile, are served now; the bridge goes on.
    EXPECT_EQ(evalText(u"tavi.host.add(20, 3)"), "23");
    // With the UI thread serving, the same call succeeds.
    std::atomic<bool> done = false;
    std::thread again([&] {
        hr = fn->callUntil(std::chrono::steady_clock::now() + 60s, {Variant::fromI4(4)}, &r);
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
    again.join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(utf8(r), "5");
}

TEST_F(ScriptBridgeTest, AWebProcessThatDiesEndsTheCallsWaitingForIt) {
    server_.serve("/mark", "ok", "text/plain");
    ASSERT_TRUE(loadPage("<p>dying</p>"));
    eval(u"tavi.host.keep(function() { fetch('/mark?n=spin'); for (;;) {} })");
    auto fn = wrapperOf(kept_.at(0));
    ASSERT_TRUE(fn);
    HRESULT hr = S_OK;
    std::thread worker([&] {
        Variant r;
        hr = fn->callUntil(std::chrono::steady_clock::now() + 60s, {}, &r);
    });
    ASSERT_TRUE(server_.waitFor([](const HttpRequest& q) { return q.param("n") == "spin"; }));
    webkit_web_view_terminate_web_process(view_);
    worker.join();
    EXPECT_EQ(hr, norv::web::RPC_E_DISCONNECTED);
    EXPECT_TRUE(pumpUntil([&] { return !bridge_->hasScriptWindow(); }));
}

TEST_F(ScriptBridgeTest, SharedBytesAreAUint8ArrayOverTheSameMemory) {
    ASSERT_TRUE(loadPage("<p>shared</p>"));
    auto area = bridge_->sharedMemory();
    ASSERT_TRUE(area);
    auto block = area->reserve(16);
    ASSERT_TRUE(block);
    for (int i = 0; i < 16; ++i)
        block->bytes()[i] = static_cast<std::uint8_t>(i);
    eval(u"tavi.host.keep(function(bytes) { if (!bytes) return 'none'; var sum = 0; for (var i = "
         u"0; i < bytes.length; i++) "
         u"{ sum += bytes[i]; bytes[i] = 255 - bytes[i]; } window.view = bytes; return "
         u"(bytes instanceof Uint8Array) + ':' + bytes.length + ':' + sum; })");
    ASSERT_EQ(kept_.size(), 1u);
    Variant r;
    ASSERT_EQ(callDefault(kept_[0].dispatch(), {Variant::fromByteRef(block->bytes().data())}, &r),
              S_OK);
    EXPECT_EQ(utf8(r), "true:16:120");
    // What script wrote is here, and what is written here is what script sees: no copy.
    EXPECT_EQ(block->bytes()[0], 255);
    EXPECT_EQ(block->bytes()[15], 240);
    block->bytes()[3] = 77;
    EXPECT_EQ(evalText(u"view[3]"), "77");

    // From another thread too.
    HRESULT hr = E_FAIL;
    std::thread([&] {
        hr = callDefault(kept_[0].dispatch(), {Variant::fromByteRef(block->bytes().data())}, &r);
    }).join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(block->bytes()[3], 255 - 77);
    // Bytes that are not a block of the shared memory do not reach script.
    std::uint8_t local[4] = {1, 2, 3, 4};
    ASSERT_EQ(callDefault(kept_[0].dispatch(), {Variant::fromByteRef(local)}, &r), S_OK);
    EXPECT_EQ(utf8(r), "none");

    // The next document gets a view of its own over the same memory.
    kept_.clear();
    ASSERT_TRUE(loadPage("<p>next</p>", "/next"));
    auto next = bridge_->sharedMemory();
    ASSERT_TRUE(next);
    auto again = next->reserve(4);
    ASSERT_TRUE(again);
    again->bytes()[2] = 9;
    eval(u"tavi.host.keep(function(b) { b[0] = b[2] + 1; return b.length; })");
    ASSERT_EQ(
        callDefault(kept_.at(0).dispatch(), {Variant::fromByteRef(again->bytes().data())}, &r),
        S_OK);
    EXPECT_EQ(utf8(r), "4");
    EXPECT_EQ(again->bytes()[0], 10);
}

} // namespace
