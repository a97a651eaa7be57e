// bench/bridge: the round trip of a page calling a trivial native getter through the
// script bridge (synchronous), and a native method that takes and returns a short string
// (what carrying strings as exact UTF-16 costs), side by side in the same run with
// WebKit's own asynchronous round trip (a script message handler that replies at once).
//
// The page's clock (performance.now) has a coarse step, so the UI process times the
// calls: in a loop that does nothing but call, the time between two consecutive calls
// arriving is one full round trip (page -> UI -> page), measured alike for both ways.
// Needs an X display: without DISPLAY it starts a private one (Xvfb with openbox) when
// built with the test support.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"
#include "platform/web/ScriptBridge.h"
#ifdef NORV_BENCH_X_SESSION
#include "tests/support/XSession.h"
#endif

using namespace norv::com;
using norv::web::ScriptBridge;

namespace {

// The native object: a getter that answers at once, and the page's report.
class BenchHost final : public ComObject<BenchHost, IDispatch> {
public:
    std::string report;
    std::vector<gint64> arrivals;        // of getter calls, in microseconds
    std::vector<gint64> echoArrivals;    // of calls with a short string
    std::vector<gint64> messageArrivals; // of WebKit script messages
    bool recording = false;

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr> names, LCID,
                          std::span<DISPID> ids) override {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].view() == u"value")
                ids[i] = 1;
            else if (names[i].view() == u"report")
                ids[i] = 2;
            else if (names[i].view() == u"echo")
                ids[i] = 3;
            else
                return DISP_E_UNKNOWNNAME;
        }
        return S_OK;
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DispParams& params,
                   Variant* result, ExcepInfo*, std::uint32_t*) override {
        if (id == 1 && (flags & DISPATCH_PROPERTYGET)) {
            if (recording)
                arrivals.push_back(g_get_monotonic_time());
            *result = Variant::fromI4(42);
            return S_OK;
        }
        if (id == 3 && (flags & DISPATCH_METHOD) && params.args.size() == 1) {
            if (recording)
                echoArrivals.push_back(g_get_monotonic_time());
            *result = params.args[0];
            return S_OK;
        }
        if (id == 2 && (flags & DISPATCH_METHOD) && params.args.size() == 1) {
            report = params.args[0].bstr().toUtf8();
            recording = report == "go";
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
};

constexpr const char* page = R"HTML(<!DOCTYPE html><html><body><script>
async function run(n) {
    const host = tavi.host;
    const handler = window.webkit.messageHandlers.bench;
    let text = "";
    for (let i = 0; i < 2000; ++i) host.value;
    for (let i = 0; i < 2000; ++i) text = host.echo("caf\u00e9 " + (i & 7));
    for (let i = 0; i < 200; ++i) await handler.postMessage(i);
    host.report("go");
    for (let i = 0; i < n; ++i) host.value;
    for (let i = 0; i < n; ++i) text = host.echo("caf\u00e9 " + (i & 7));
    for (let i = 0; i < n; ++i) await handler.postMessage(i);
    host.report("done");
}
</script></body></html>)HTML";

// Round trips (microseconds) from consecutive arrival times.
std::vector<double> roundTrips(const std::vector<gint64>& arrivals) {
    std::vector<double> out;
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        out.push_back(static_cast<double>(arrivals[i] - arrivals[i - 1]));
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// WebKit's handler: answers at once.
gboolean onBenchMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                        gpointer data) {
    auto* host = static_cast<BenchHost*>(data);
    if (host->recording)
        host->messageArrivals.push_back(g_get_monotonic_time());
    JSCValue* answer = jsc_value_new_number(jsc_value_get_context(value), 42);
    webkit_script_message_reply_return_value(reply, answer);
    g_object_unref(answer);
    return TRUE;
}

bool pumpUntil(const std::function<bool()>& cond, int seconds) {
    const gint64 end = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
    const guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!cond() && g_get_monotonic_time() < end)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return cond();
}

} // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
#ifdef NORV_BENCH_X_SESSION
    std::unique_ptr<norv::test::XSession> session;
    if (!std::getenv("DISPLAY")) {
        session = std::make_unique<norv::test::XSession>();
        for (const auto& [name, value] : session->env())
            setenv(name.c_str(), value.c_str(), 1);
    }
#endif
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "bridge bench: no display\n");
        return 1;
    }
    WebKitWebContext* context = webkit_web_context_new();
    ScriptBridge::prepareContext(context);
    WebKitUserContentManager* manager = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler_with_reply(manager, "bench",
                                                                           nullptr);
    auto host = makeObject<BenchHost>();
    g_signal_connect(manager, "script-message-with-reply-received::bench",
                     G_CALLBACK(&onBenchMessage), host.get());
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", manager, nullptr));
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);

    {
        ScriptBridge bridge(view);
        bridge.setInitScript(u"window.tavi = {};");
        bridge.bindScriptValue(u"window.tavi.host", ComPtr<IDispatch>(host.get()));
        webkit_web_view_load_html(view, page, "http://127.0.0.1/");
        if (!pumpUntil([&] { return bridge.hasScriptWindow(); }, 60)) {
            std::fprintf(stderr, "bridge bench: the page did not get the bridge\n");
            return 1;
        }
        // Started by the page's own event loop, so that the UI process is idle in its
        // main loop as it is in the shell.
        bridge.runScript(u"setTimeout(function() { run(" + std::u16string(u"") +
                             Bstr::fromUtf8(std::to_string(calls)).str() + u"); }, 0)",
                         nullptr);
        if (!pumpUntil([&] { return host->report == "done"; }, 600)) {
            std::fprintf(stderr, "bridge bench: no report\n");
            return 1;
        }
    }
    const auto ours = roundTrips(host->arrivals);
    const auto strings = roundTrips(host->echoArrivals);
    const auto theirs = roundTrips(host->messageArrivals);
    auto rate = [](const std::vector<gint64>& a) {
        return a.size() < 2 ? 0.0
                            : static_cast<double>(a.size() - 1) * 1e6 /
                                  static_cast<double>(a.back() - a.front());
    };
    const double oursMedian = percentile(ours, 0.5), theirsMedian = percentile(theirs, 0.5);
    std::printf("bridge round trip, %d calls each\n", calls);
    std::printf("  %-38s median %7.1f us  p99 %7.1f us  %9.0f calls/s\n",
                "script bridge (synchronous getter)", oursMedian, percentile(ours, 0.99),
                rate(host->arrivals));
    std::printf("  %-38s median %7.1f us  p99 %7.1f us  %9.0f calls/s\n",
                "script bridge (short string both ways)", percentile(strings, 0.5),
                percentile(strings, 0.99), rate(host->echoArrivals));
    std::printf("  %-38s median %7.1f us  p99 %7.1f us  %9.0f calls/s\n",
                "WebKit message handler (async reply)", theirsMedian, percentile(theirs, 0.99),
                rate(host->messageArrivals));
    std::printf("  ratio WebKit / bridge: median %.1fx, p99 %.1fx\n", theirsMedian / oursMedian,
                percentile(theirs, 0.99) / percentile(ours, 0.99));
    std::printf("  ratio string call / getter: median %.2fx\n",
                percentile(strings, 0.5) / oursMedian);
    gtk_widget_destroy(window);
    g_object_unref(manager);
    g_object_unref(context);
    return 0;
}
