#include "tests/platform/media/PlayerTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/com/ClassTable.h"
#include "platform/com/ConnectionPoint.h"
#include "platform/media/MediaClasses.h"
#include "tests/support/Process.h"

namespace norv::test {

bool pumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(1ms);
    }
    return true;
}

void makeMedium(const std::filesystem::path& path, const std::string& pipeline) {
    std::vector<std::string> argv = {"gst-launch-1.0", "-q", "-e"};
    std::istringstream words(pipeline + " ! filesink location=" + path.string());
    for (std::string word; words >> word;)
        argv.push_back(word);
    auto [code, out] = runCommand(argv, {}, 60s);
    if (code != 0 || !std::filesystem::exists(path))
        throw std::runtime_error("cannot make " + path.string() + ": " + out);
}

namespace {
// Buffers of 441 samples at 44.1 kHz: a hundred a second.
std::string toneSource(double seconds) {
    return "audiotestsrc wave=sine freq=440 samplesperbuffer=441 num-buffers=" +
           std::to_string(static_cast<int>(seconds * 100)) + " ! audio/x-raw,rate=44100";
}
} // namespace

void makeTone(const std::filesystem::path& path, double seconds) {
    makeMedium(path, toneSource(seconds) + " ! audioconvert ! vorbisenc ! oggmux");
}

void makeClip(const std::filesystem::path& path, double seconds) {
    makeMedium(
        path,
        "videotestsrc pattern=smpte num-buffers=" + std::to_string(static_cast<int>(seconds * 30)) +
            " ! video/x-raw,width=320,height=240,framerate=30/1 ! vp8enc deadline=1 "
            "! mux. " +
            toneSource(seconds) + " ! audioconvert ! vorbisenc ! mux. webmmux name=mux");
}

double probeDuration(const std::filesystem::path& path) {
    auto [code, out] = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                   "-of", "default=nw=1:nk=1", path.string()});
    if (code != 0)
        throw std::runtime_error("ffprobe failed: " + out);
    return std::stod(out);
}

HRESULT EventLog::PlayStateChange(std::int32_t state) {
    states.push_back(state);
    if (onState)
        onState(state);
    return S_OK;
}

HRESULT EventLog::MediaError(IDispatch* item) {
    ComPtr<IMediaItem> media;
    if (item)
        item->QueryInterface(IMediaItem::iid, media.putVoid());
    errors.push_back(media);
    return S_OK;
}

bool EventLog::saw(std::int32_t state) const {
    return std::find(states.begin(), states.end(), state) != states.end();
}

GstElement* audioOutputOf(GstElement* pipeline) {
    GstElement* sink = nullptr;
    g_object_get(pipeline, "audio-sink", &sink, nullptr);
    if (sink == nullptr || !GST_IS_BIN(sink))
        return sink;
    GstElement* inner = nullptr;
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        inner = GST_ELEMENT(g_value_dup_object(&item));
        g_value_unset(&item);
    }
    gst_iterator_free(it);
    gst_object_unref(sink);
    return inner;
}

void initMedia() {
    static bool done = [] {
        // A sound server or card of the machine must not decide what a test hears.
        g_setenv("PULSE_SERVER", "unix:/nonexistent/pulse", FALSE);
        g_setenv("ALSA_CONFIG_PATH", "/nonexistent/alsa.conf", FALSE);
        return registerMediaClasses();
    }();
    ASSERT_TRUE(done);
}

TestPlayer::TestPlayer() : log(makeObject<EventLog>()) {
    initMedia();
    if (failed(createInstance(CLSID_MediaPlayer, nullptr, CLSCTX_INPROC_SERVER, player)))
        throw std::runtime_error("no player control");
    auto container = player.as<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    if (!container ||
        failed(container->FindConnectionPoint(IMediaPlayerEvents::iid, point.put())) ||
        failed(point->Advise(log->unknown(), &cookie)))
        throw std::runtime_error("cannot connect to the player's events");
}

TestPlayer::~TestPlayer() {
    if (auto container = player.as<IConnectionPointContainer>()) {
        ComPtr<IConnectionPoint> point;
        if (succeeded(container->FindConnectionPoint(IMediaPlayerEvents::iid, point.put())))
            point->Unadvise(cookie);
    }
}

PlayState TestPlayer::state() const {
    PlayState s = psUndefined;
    player->get_playState(&s);
    return s;
}

ComPtr<IMediaControls> TestPlayer::controls() const {
    ComPtr<IMediaControls> c;
    player->get_controls(c.put());
    return c;
}

ComPtr<IMediaSettings> TestPlayer::settings() const {
    ComPtr<IMediaSettings> s;
    player->get_settings(s.put());
    return s;
}

double TestPlayer::duration() const {
    ComPtr<IMediaItem> item;
    player->get_currentMedia(item.put());
    double d = -1;
    item->get_duration(&d);
    return d;
}

void TestPlayer::setUrl(const std::string& url) const {
    ASSERT_EQ(player->put_URL(Bstr::fromUtf8(url)), S_OK);
}

void TestPlayer::site(FakeSite* site) const {
    auto object = player.as<IOleObject>();
    ASSERT_TRUE(object);
    ASSERT_EQ(object->SetClientSite(site), S_OK);
}

HRESULT FakeSite::QueryService(const GUID& service, const IID& iid, void** out) {
    std::string name = iid == IRemoteMediaServices::iid ? "remote"
                       : iid == IGraphCreation::iid     ? "graph"
                                                        : iid.toString();
    calls.push_back("QueryService " + name);
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (service != SID_MediaPlayerServices)
        return E_NOINTERFACE;
    return QueryInterface(iid, out);
}

HRESULT FakeSite::GetServiceType(Bstr* type) {
    calls.push_back("GetServiceType");
    *type = Bstr(u"Local");
    return S_OK;
}

HRESULT FakeSite::GetApplicationName(Bstr* name) {
    calls.push_back("GetApplicationName");
    *name = Bstr(u"Test");
    return S_OK;
}

HRESULT FakeSite::GetScriptableObject(Bstr* name, IDispatch** object) {
    calls.push_back("GetScriptableObject");
    *name = Bstr(u"wmpsrv");
    *object = scriptable.get();
    if (*object)
        (*object)->AddRef();
    return S_OK;
}

HRESULT FakeSite::GetCustomUIMode(Bstr* file) {
    calls.push_back("GetCustomUIMode");
    if (customSkin.empty())
        return E_NOTIMPL;
    *file = Bstr::fromUtf8(customSkin);
    return S_OK;
}

HRESULT FakeSite::GraphCreationPreRender(IUnknown* graph, IUnknown* reserved) {
    calls.push_back(reserved == nullptr ? "PreRender" : "PreRender with reserved");
    keep(graph);
    if (onPreRender)
        onPreRender(pipeline_);
    return S_OK;
}

HRESULT FakeSite::GraphCreationPostRender(IUnknown* graph) {
    calls.push_back("PostRender");
    keep(graph);
    if (onPostRender)
        onPostRender(pipeline_);
    return S_OK;
}

HRESULT FakeSite::GetGraphCreationFlags(std::uint32_t* flags) {
    calls.push_back("GetGraphCreationFlags");
    *flags = 0;
    return S_OK;
}

HRESULT FakeSite::GraphWillBlock(IUnknown*) {
    ++blockNotices;
    return S_OK;
}

void FakeSite::keep(IUnknown* graph) {
    ComPtr<IMediaGraph> media;
    ASSERT_TRUE(graph);
    ASSERT_EQ(graph->QueryInterface(IMediaGraph::iid, media.putVoid()), S_OK);
    GstElement* pipeline = nullptr;
    ASSERT_EQ(media->GetPipeline(&pipeline), S_OK);
    if (pipeline_)
        gst_object_unref(pipeline_);
    pipeline_ = pipeline;
}

GstElement* FakeSite::pipeline() const {
    return pipeline_;
}

FakeSite::~FakeSite() {
    if (pipeline_)
        gst_object_unref(pipeline_);
}

} // namespace norv::test
