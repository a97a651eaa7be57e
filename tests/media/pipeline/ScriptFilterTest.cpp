// Stream filters written in page script, end to end through the bridge: real WebKit views
// under a private X session whose pages hand filters to the stream part, and a streaming
// thread of the test that sends samples through a filter chain as a tap does. What script
// writes is what comes back; a page that is busy, blocked in its own call into the UI, or
// gone never holds a streaming thread beyond its deadline or a stop.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "media/pipeline/FilterChain.h"
#include "media/pipeline/MPStream.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/ScriptObject.h"
#include "platform/web/rpc/SharedArea.h"
#include "tests/media/pipeline/FilterDoubles.h"
#include "tests/platform/web/TestObject.h"
#include "tests/support/HttpServer.h"
#include "tests/support/XSession.h"

using namespace norv::com;
using namespace norv::test;
using namespace std::chrono_literals;
using norv::media::FilterChain;
using norv::media::IBoundedStreamFilter;
using norv::media::MPStream;
using norv::typelib::IMPStreamFilter;
using norv::web::ScriptBridge;

namespace {

std::string text(const Variant& v) {
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

// A streaming thread: sends `count` samples of `size` bytes (in memory of its own, as a
// pipeline's buffers are) through `chain`, sample i from i to i + 1 s, each byte i.
class Streamer {
public:
    Streamer(FilterChain& chain, int count, std::size_t size)
        : samples_(static_cast<std::size_t>(count), std::vector<std::uint8_t>(size)) {
        for (int i = 0; i < count; ++i)
            std::fill(samples_[i].begin(), samples_[i].end(), static_cast<std::uint8_t>(i));
        done_ = std::async(std::launch::async, [this, &chain] {
            for (std::size_t i = 0; i < samples_.size(); ++i) {
                chain.dispatch(norv::typelib::mpsAudio, static_cast<double>(i),
                               static_cast<double>(i + 1), samples_[i].data(),
                               static_cast<std::uint32_t>(samples_[i].size()), false);
                ++sent_;
            }
        });
    }
    // Pumps the UI thread until every sample went through (the page's calls into the UI
    // are served meanwhile); false when that did not happen within `bound`.
    bool finish(std::chrono::milliseconds bound = 30s) {
        return pumpUntil([&] { return done_.wait_for(0s) == std::future_status::ready; }, bound);
    }
    int sent() const { return sent_; }
    const std::vector<std::uint8_t>& sample(std::size_t i) const { return samples_[i]; }

private:
    std::vector<std::vector<std::uint8_t>> samples_;
    std::atomic<int> sent_{0};
    std::future<void> done_;
};

class ScriptFilterTest : public ::testing::Test {
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
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        g_signal_connect(view_, "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED)
                                 ++static_cast<ScriptFilterTest*>(self)->loads_;
                         }),
                         this);
        bridge_ = std::make_unique<ScriptBridge>(view_);
        stream_ = makeObject<MPStream>(); // lets script objects be stream filters
        host_ = makeObject<TestObject>();
        host_->method(u"keep", [this](std::vector<Variant>& a, Variant*) {
            kept_.push_back(a.empty() ? Variant() : a[0]);
            return S_OK;
        });
        bridge_->bindScriptValue(u"window.host", ComPtr<IDispatch>(host_.get()));
        bridge_->bindScriptValue(
            u"window.stream",
            ComPtr<IDispatch>(static_cast<norv::typelib::IMPStream*>(stream_.get())));
    }
    void TearDown() override {
        chain_.clear();
        filters_.clear();
        kept_.clear();
        bridge_.reset();
        gtk_widget_destroy(window_);
        host_.reset();
        stream_.reset();
    }

    bool loadPage(const std::string& script) {
        server_.serve("/page",
                      "<!DOCTYPE html><html><body><script>" + script + "</script></body></html>");
        const int before = loads_;
        webkit_web_view_load_uri(view_, server_.url("/page").c_str());
        return pumpUntil([&] { return loads_ > before && bridge_->hasScriptWindow(); });
    }
    Variant eval(const std::u16string& code) {
        Variant r;
        EXPECT_EQ(bridge_->runScript(code, &r), S_OK);
        return r;
    }
    // The script object the page kept as filter `i`, as the stream part sees it.
    ComPtr<IMPStreamFilter> filter(std::size_t i) {
        ComPtr<IMPStreamFilter> f;
        if (i < kept_.size() && kept_[i].unknown())
            kept_[i].unknown()->QueryInterface(IMPStreamFilter::iid, f.putVoid());
        if (f)
            filters_.push_back(f);
        return f;
    }
    // A block of shared memory the page holds as `window.flag` (a Uint8Array over it; the
    // page reads it with Atomics.load, which the engine never hoists out of a loop).
    std::optional<norv::web::rpc::SharedBlock> sharedFlag() {
        auto block = bridge_->sharedMemory()->reserve(16);
        if (!block)
            return block;
        host_->method(u"flagBlock", [p = block->bytes().data()](std::vector<Variant>&, Variant* r) {
            *r = Variant::fromByteRef(p);
            return S_OK;
        });
        eval(u"window.flag = host.flagBlock(); flag.length");
        return block;
    }

    static inline std::unique_ptr<XSession> session_;
    static inline WebKitWebContext* context_ = nullptr;

    HttpServer server_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<ScriptBridge> bridge_;
    ComPtr<MPStream> stream_;
    ComPtr<TestObject> host_;
    std::vector<Variant> kept_;
    std::vector<ComPtr<IMPStreamFilter>> filters_;
    FilterChain chain_;
    int loads_ = 0;
};

TEST_F(ScriptFilterTest, ObjectsAndFunctionsSeeEverySampleInOrderAndWhatTheyWritePlays) {
    ASSERT_TRUE(loadPage(
        "window.seen = [];"
        "window.f = { process: function (type, t0, t1, data, size) {"
        "  seen.push([type, t0, t1, data instanceof Uint8Array, data.length, size].join(' '));"
        "  for (var i = 0; i < data.length; i++) data[i] += 1; } };"
        "window.g = function (type, t0, t1, data, size) {"
        "  for (var i = 0; i < data.length; i++) data[i] *= 2; };"
        // The stream part takes both shapes from script, once each.
        "stream.insertFilter(f, 1); stream.insertFilter(f, 1); stream.insertFilter(g, 3);"
        "stream.removeFilter(g, 0);"
        "host.keep(f); host.keep(g); host.keep(f);"));
    ASSERT_EQ(kept_.size(), 3u);
    auto f = filter(0), g = filter(1), again = filter(2);
    ASSERT_TRUE(f && g);
    EXPECT_EQ(f.get(), again.get()); // one script object, one filter
    ASSERT_TRUE(chain_.insert(f.get()));
    EXPECT_FALSE(chain_.insert(again.get()));
    ASSERT_TRUE(chain_.insert(g.get()));
    ComPtr<IBoundedStreamFilter> bounded;
    EXPECT_EQ(f->QueryInterface(IBoundedStreamFilter::iid, bounded.putVoid()), S_OK);

    const std::size_t reservedBefore = bridge_->sharedMemory()->reserved();
    Streamer streamer(chain_, 20, 6);
    ASSERT_TRUE(streamer.finish());
    for (std::size_t i = 0; i < 20; ++i) // list order: (i + 1) * 2
        EXPECT_EQ(streamer.sample(i),
                  std::vector<std::uint8_t>(6, static_cast<std::uint8_t>((i + 1) * 2)))
            << i;
    EXPECT_EQ(text(eval(u"seen.length")), "20");
    EXPECT_EQ(text(eval(u"seen[0]")), "1 0 1 true 6 6");
    EXPECT_EQ(text(eval(u"seen[19]")), "1 19 20 true 6 6");
    EXPECT_EQ(bridge_->sharedMemory()->reserved(), reservedBefore); // copies given back
}

TEST_F(ScriptFilterTest, AStopWhileThePageWaitsForTheUiLetsTheStreamingThreadGoAtOnce) {
    // The page's filter calls into the UI; the UI, serving that call, stops playback: it
    // interrupts the filters and waits for the streaming thread, which waits for the page.
    std::future<void> stopped;
    Streamer* streamer = nullptr;
    host_->method(u"stop", [&](std::vector<Variant>&, Variant*) {
        chain_.interrupt();
        // What a pipeline's state change does: wait for its streaming thread.
        EXPECT_TRUE(pumpUntil([&] { return streamer->sent() == 3; }, 20s));
        return S_OK;
    });
    ASSERT_TRUE(loadPage("window.calls = 0;"
                         "host.keep({ process: function (type, t0, t1, data) {"
                         "  calls++; if (t0 == 0) host.stop(); } });"));
    chain_.setDeadline(10min); // only the interruption can end the wait
    ASSERT_TRUE(chain_.insert(filter(0).get()));
    Streamer s(chain_, 3, 4);
    streamer = &s;
    ASSERT_TRUE(s.finish(20s));
    EXPECT_EQ(s.sent(), 3);
    // Interrupted, the page's filter is skipped until playback resumes; then it is called.
    EXPECT_TRUE(pumpUntil([&] { return text(eval(u"calls")) == "1"; }));
    chain_.resume();
    Streamer next(chain_, 1, 4);
    ASSERT_TRUE(next.finish());
    EXPECT_EQ(text(eval(u"calls")), "2");
}

TEST_F(ScriptFilterTest, ABusyPageIsSkippedAtTheDeadlineAndItsLateWritesNeverPlay) {
    ASSERT_TRUE(loadPage("host.keep({ process: function (type, t0, t1, data) {"
                         "  if (t0 == 0) while (Atomics.load(flag, 0) == 0) {}"
                         "  data[0] = 99; } });"));
    auto flagBlock = sharedFlag();
    ASSERT_TRUE(flagBlock);
    const std::size_t reservedBefore = bridge_->sharedMemory()->reserved();
    auto after = makeObject<RecordingFilter>(); // a native filter behind the page's
    chain_.setDeadline(100ms);
    ASSERT_TRUE(chain_.insert(filter(0).get()));
    ASSERT_TRUE(chain_.insert(after.get()));

    Streamer s(chain_, 3, 4);
    ASSERT_TRUE(s.finish());
    EXPECT_EQ(after->count(), 3u); // every sample went on, without the page's change
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.sample(i)[0], i);
    // The page still works on copies of its own.
    EXPECT_GT(bridge_->sharedMemory()->reserved(), reservedBefore);

    flagBlock->bytes()[0] = 1; // the page gets on with it
    ASSERT_TRUE(pumpUntil([&] { return bridge_->sharedMemory()->reserved() == reservedBefore; }));
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.sample(i)[0], i);
    chain_.setDeadline(FilterChain::defaultDeadline);
    Streamer next(chain_, 1, 4);
    ASSERT_TRUE(next.finish());
    EXPECT_EQ(next.sample(0)[0], 99);
}

TEST_F(ScriptFilterTest, AFilterThatRemovesItselfIsNeverCalledAgain) {
    host_->method(u"removeMe", [&](std::vector<Variant>&, Variant*) {
        EXPECT_TRUE(chain_.remove(filters_.at(0).get()));
        return S_OK;
    });
    ASSERT_TRUE(loadPage("window.calls = 0;"
                         "host.keep({ process: function () {"
                         "  if (++calls == 2) host.removeMe(); } });"));
    auto after = makeObject<RecordingFilter>();
    ASSERT_TRUE(chain_.insert(filter(0).get()));
    ASSERT_TRUE(chain_.insert(after.get()));
    Streamer s(chain_, 6, 4);
    ASSERT_TRUE(s.finish());
    EXPECT_EQ(text(eval(u"calls")), "2");
    EXPECT_EQ(after->count(), 6u);
}

TEST_F(ScriptFilterTest, AWebProcessThatDiesMidCallEndsTheCallAndLaterOnesFailAtOnce) {
    ASSERT_TRUE(loadPage("host.keep({ process: function (type, t0, t1, data) {"
                         "  while (Atomics.load(flag, 0) == 0) {} } });"));
    ASSERT_TRUE(sharedFlag());
    const std::size_t reservedBefore = bridge_->sharedMemory()->reserved();
    auto after = makeObject<RecordingFilter>();
    chain_.setDeadline(10min); // only the page's end can end the wait
    ASSERT_TRUE(chain_.insert(filter(0).get()));
    ASSERT_TRUE(chain_.insert(after.get()));
    ComPtr<IBoundedStreamFilter> page;
    ASSERT_EQ(filters_.at(0)->QueryInterface(IBoundedStreamFilter::iid, page.putVoid()), S_OK);
    std::promise<HRESULT> first;
    std::thread worker([&] {
        std::uint8_t data[4] = {};
        first.set_value(page->processWithin(norv::typelib::mpsAudio, Variant::fromR8(0),
                                            Variant::fromR8(1), Variant::fromByteRef(data),
                                            Variant::fromI4(4),
                                            std::chrono::steady_clock::now() + 10min, {}));
    });
    auto result = first.get_future();
    // The page is in the filter once the call's copy is reserved.
    EXPECT_TRUE(pumpUntil([&] {
        return bridge_->sharedMemory()->reserved() > reservedBefore ||
               result.wait_for(0s) == std::future_status::ready;
    }));
    ASSERT_NE(result.wait_for(0s), std::future_status::ready) << result.get();
    webkit_web_view_terminate_web_process(view_);
    ASSERT_TRUE(pumpUntil([&] { return result.wait_for(0s) == std::future_status::ready; }));
    worker.join();
    EXPECT_EQ(result.get(), norv::web::RPC_E_DISCONNECTED);

    Streamer s(chain_, 5, 4);
    ASSERT_TRUE(s.finish());
    EXPECT_EQ(after->count(), 5u);
}

TEST_F(ScriptFilterTest, AFilterOfADocumentThatWentAwayFailsAtOnce) {
    ASSERT_TRUE(loadPage("host.keep(function () {});"));
    auto f = filter(0);
    ASSERT_TRUE(f);
    ASSERT_TRUE(loadPage("window.other = true;"));
    std::uint8_t data[4] = {};
    HRESULT hr = S_OK;
    std::thread([&] {
        hr = f->process(norv::typelib::mpsVideo, Variant::fromR8(0), Variant::fromR8(1),
                        Variant::fromByteRef(data), Variant::fromUI4(4));
    }).join();
    EXPECT_EQ(hr, norv::web::RPC_E_DISCONNECTED);
}

} // namespace
