#pragma once
// Shared pieces of the player control's tests: media made at test time with GStreamer's
// test sources, a main-context pump with a deadline, and an event sink that records what
// the control raised.

#include <gst/gst.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/DispatchObject.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "platform/media/PlayerInterfaces.h"

namespace norv::test {

using namespace std::chrono_literals;
using namespace norv::com;
using namespace norv::platform::media;

// Runs the thread's default main context until cond() holds or the deadline passes.
bool pumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 20s);

// Writes a medium to `path` with gst-launch-1.0: `pipeline` is everything before the
// muxer's file sink, for example "audiotestsrc num-buffers=50 ! vorbisenc ! oggmux".
void makeMedium(const std::filesystem::path& path, const std::string& pipeline);
// Two seconds of a 440 Hz tone in Ogg Vorbis.
void makeTone(const std::filesystem::path& path, double seconds = 2.0);
// Two seconds of the SMPTE colour bars (320 x 240, 30 frames a second) with a tone, in
// WebM (VP8 and Vorbis).
void makeClip(const std::filesystem::path& path, double seconds = 2.0);
// The duration ffprobe reads, in seconds.
double probeDuration(const std::filesystem::path& path);

// Records the control's events.
class EventLog final : public DispatchObject<EventLog, IMediaPlayerEvents> {
public:
    HRESULT PlayStateChange(std::int32_t state) override;
    HRESULT MediaError(IDispatch* item) override;

    std::vector<std::int32_t> states;
    std::vector<ComPtr<IMediaItem>> errors;
    // Called after each PlayStateChange is recorded.
    std::function<void(std::int32_t)> onState;

    bool saw(std::int32_t state) const;
};

// A page site offering the control's services: remote hosting, graph creation and the
// block notice. It records each call the control makes on it, in order.
class FakeSite final : public ComObject<FakeSite, IOleClientSite, IServiceProvider,
                                        IRemoteMediaServices, IGraphCreation, IGraphBlockNotify> {
public:
    // IOleClientSite
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(std::uint32_t, std::uint32_t, IUnknown**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IUnknown**) override { return E_NOINTERFACE; }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(bool) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IServiceProvider
    HRESULT QueryService(const GUID& service, const IID& iid, void** out) override;
    // IRemoteMediaServices
    HRESULT GetServiceType(Bstr* type) override;
    HRESULT GetApplicationName(Bstr* name) override;
    HRESULT GetScriptableObject(Bstr* name, IDispatch** object) override;
    HRESULT GetCustomUIMode(Bstr* file) override;
    // IGraphCreation
    HRESULT GraphCreationPreRender(IUnknown* graph, IUnknown* reserved) override;
    HRESULT GraphCreationPostRender(IUnknown* graph) override;
    HRESULT GetGraphCreationFlags(std::uint32_t* flags) override;
    // IGraphBlockNotify
    HRESULT GraphWillBlock(IUnknown* graph) override;

    // The pipeline of the last graph handed over (no reference for the caller).
    GstElement* pipeline() const;

    std::vector<std::string> calls;
    std::string customSkin;       // empty: GetCustomUIMode fails
    ComPtr<IDispatch> scriptable; // handed out as "wmpsrv"
    // Called with the pipeline at each pre- and post-render call.
    std::function<void(GstElement*)> onPreRender, onPostRender;
    int blockNotices = 0;

private:
    void keep(IUnknown* graph);
    GstElement* pipeline_ = nullptr; // owned
public:
    ~FakeSite() override;
};

// A control made through the class table, with an event log connected to it.
struct TestPlayer {
    TestPlayer();
    ~TestPlayer();

    PlayState state() const;
    ComPtr<IMediaControls> controls() const;
    ComPtr<IMediaSettings> settings() const;
    double duration() const;
    void setUrl(const std::string& url) const;
    // Gives the control `site` as its client site.
    void site(FakeSite* site) const;

    ComPtr<IMediaPlayer> player;
    ComPtr<EventLog> log;
    std::uint32_t cookie = 0;
};

// Makes GStreamer (and the media classes) ready in a test process without a display.
void initMedia();

// The element the control plays its audio into, inside its output bin; with a new
// reference.
GstElement* audioOutputOf(GstElement* pipeline);

} // namespace norv::test
