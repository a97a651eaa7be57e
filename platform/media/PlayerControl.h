#pragma once
// PlayerControl: the media player control (CLSID_MediaPlayer), a player over GStreamer's
// playbin with the scripting surface of PlayerInterfaces.h and the hosting hooks of
// PlayerHostInterfaces.h. It may be aggregated (the program's player object wraps it).
//
// It lives on the thread that created it (the UI thread): every call comes on that
// thread, and the pipeline's bus messages are dispatched on that thread's GLib main
// context, which must be running for playback to advance. Nothing on that thread waits
// for a streaming thread except the changes announced through IGraphBlockNotify.
//
// Play states: setting URL gives 9 (transitioning), then 3 (playing) once the medium
// plays, or 10 (ready) when settings.autoStart is false; pause() gives 2, stop() 1 (the
// position back at the start), the end of the medium 8. A medium that cannot be opened or
// played raises MediaError with the media item (its errorDescription says why), then the
// state becomes 10. Each change of state raises PlayStateChange(NewState) once. Events
// raised while a sink is being called (a sink that calls play(), say) are delivered after
// it returns, in order, so every sink sees every state in the order they happened.

#include <gst/gst.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/com/ConnectionPoint.h"
#include "platform/com/DispatchObject.h"
#include "platform/media/GstRef.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "platform/media/PlayerInterfaces.h"

namespace norv::platform::media {

class AudioEffects;
class CustomSkin;
class TransportBar;

class PlayerControl final
    : public ComObject<PlayerControl, DispatchImpl<IMediaPlayer>, IOleObject,
                       IConnectionPointContainer, IVideoRenderConfig, IPlayerView> {
public:
    PlayerControl();
    ~PlayerControl() override;

    // IMediaPlayer
    HRESULT get_URL(Bstr* out) override;
    HRESULT put_URL(const Bstr& url) override;
    HRESULT get_playState(PlayState* out) override;
    HRESULT get_controls(IMediaControls** out) override;
    HRESULT get_settings(IMediaSettings** out) override;
    HRESULT get_currentMedia(IMediaItem** out) override;
    HRESULT get_uiMode(Bstr* out) override;
    HRESULT put_uiMode(const Bstr& mode) override;
    HRESULT get_versionInfo(Bstr* out) override;
    HRESULT close() override;

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(const Bstr& containerApp, const Bstr& containerObject) override;
    HRESULT Close(std::uint32_t saveOption) override;
    HRESULT SetMoniker(std::uint32_t, IUnknown*) override { return E_NOTIMPL; }
    HRESULT GetMoniker(std::uint32_t, std::uint32_t, IUnknown** moniker) override;
    HRESULT InitFromData(IUnknown*, bool, std::uint32_t) override { return E_NOTIMPL; }
    HRESULT GetClipboardData(std::uint32_t, IUnknown** dataObject) override;
    HRESULT DoVerb(std::int32_t, IOleClientSite*, std::int32_t) override { return S_OK; }
    HRESULT EnumVerbs(IUnknown** enumerator) override;
    HRESULT Update() override { return S_OK; }
    HRESULT IsUpToDate() override { return S_OK; }
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(std::uint32_t form, Bstr* userType) override;
    HRESULT SetExtent(std::uint32_t drawAspect, const ExtentSize& size) override;
    HRESULT GetExtent(std::uint32_t drawAspect, ExtentSize* size) override;
    HRESULT Advise(IUnknown*, std::uint32_t* connection) override;
    HRESULT Unadvise(std::uint32_t) override { return E_NOTIMPL; }
    HRESULT EnumAdvise(IUnknown** enumerator) override;
    HRESULT GetMiscStatus(std::uint32_t aspect, std::uint32_t* status) override;
    HRESULT SetColorScheme(std::uint32_t) override { return E_NOTIMPL; }

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>* out) override;
    HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) override;

    // IVideoRenderConfig
    HRESULT put_presenter(IVideoPresenter* presenter) override;
    HRESULT get_presenter(IVideoPresenter** presenter) override;

    // IPlayerView
    HRESULT GetWidget(GtkWidget** widget) override;

    // What the controls, settings and media item objects reach.
    HRESULT play();
    HRESULT pause();
    HRESULT stop();
    double position();
    HRESULT setPosition(double seconds);
    std::int32_t volume() const { return volume_; }
    void setVolume(std::int32_t volume);
    bool mute() const { return mute_; }
    void setMute(bool mute);
    bool autoStart() const { return autoStart_; }
    void setAutoStart(bool autoStart) { autoStart_ = autoStart; }
    // The duration (seconds, 0 while not known) and error of the medium opened as
    // `generation`; another medium's item reads 0 and its own error.
    double mediaDuration(std::uint64_t generation) const;
    std::u16string mediaError(std::uint64_t generation) const;

    // The factory name of the audio sink in use ("pulsesink", "alsasink", "fakeaudiosink").
    const char* audioOutputName() const { return audioOutputName_; }

private:
    // What playback should settle at once the pipeline gets there.
    enum class Target { None, Ready, Paused, Playing, Stopped, Ended };
    struct Event {
        DISPID id;
        Variant arg;
    };

    void buildVideoPath();
    void buildWidget();
    void applyUiMode();
    void updateBar();
    HRESULT openMedium();
    void closeMedium();
    void notifyWillBlock();
    void preRender();
    void postRender();
    void createAudioTransform();
    void seekTo(double seconds);
    void setState(PlayState state);
    void fire(DISPID id, Variant arg);
    ComPtr<IMediaItem> makeItem();
    void queryDuration();
    void onBusMessage(GstMessage* message);
    void onAsyncDone();
    void onError(GstMessage* message);
    void relinkPresenter(GstRef<GstElement> element);

    static gboolean busCallback(GstBus*, GstMessage* message, gpointer self);
    static gboolean positionTick(gpointer self);

    GMainContext* context_ = nullptr; // one reference
    GSource* busWatch_ = nullptr;
    GSource* positionTimer_ = nullptr;
    GstRef<GstElement> playbin_;
    GstRef<GstElement> videoBin_;
    GstRef<GstElement> presenterIn_;  // converter in front of the presenter
    GstRef<GstElement> presenterOut_; // converter between the presenter and the sink
    GstRef<GstElement> videoSink_;
    GstRef<GstElement> presenterElement_;
    // The skin engine's targets: the effects in front of the audio sink, the picture
    // settings behind the presenter; and the custom skin loaded for uiMode "custom".
    std::shared_ptr<AudioEffects> audioEffects_;
    GstRef<GstElement> videoBalance_;
    std::unique_ptr<CustomSkin> skin_;
    ComPtr<IVideoPresenter> presenter_;
    const char* audioOutputName_ = nullptr;
    ComPtr<IUnknown> graph_; // the IMediaGraph handed to the hooks

    GtkWidget* root_ = nullptr; // one reference of our own
    GtkWidget* videoWidget_ = nullptr;
    std::unique_ptr<TransportBar> bar_;

    ComPtr<ConnectionPoint> events_;
    std::deque<Event> pendingEvents_;
    bool firing_ = false;

    ComPtr<IOleClientSite> site_;
    ComPtr<IRemoteMediaServices> remoteServices_;
    ComPtr<IGraphCreation> graphCreation_;
    Bstr serviceType_;
    Bstr applicationName_;
    Bstr scriptableName_;
    ComPtr<IDispatch> scriptableObject_;
    Bstr customSkin_;
    ExtentSize extent_;

    ComPtr<IActivate> activate_; // the audio transform's activation, per medium

    Bstr url_;
    std::uint64_t generation_ = 0;
    std::u16string error_;
    PlayState state_ = psUndefined;
    Target target_ = Target::None;
    bool opened_ = false;    // the pipeline holds the medium (not NULL)
    bool prerolled_ = false; // the medium's pipeline has been built and prerolled once
    std::optional<double> pendingSeek_;
    double duration_ = 0;
    double lastPosition_ = 0;
    bool autoStart_ = true;
    std::int32_t volume_ = 100;
    bool mute_ = false;
    std::u16string uiMode_ = u"full";
};

} // namespace norv::platform::media
