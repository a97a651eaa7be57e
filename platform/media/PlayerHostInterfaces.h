#pragma once
// What the media player control offers the program that hosts it, and what it asks of it.
//
// Embedding. The control answers IOleObject; its host gives it a client site
// (IOleClientSite) with SetClientSite. From the site the control asks, through
// IServiceProvider::QueryService under SID_MediaPlayerServices, for:
//  - IRemoteMediaServices: service type, application name, the scriptable object handed to
//    a custom skin, and the custom skin's file (uiMode "custom");
//  - IGraphCreation: told, for each medium, before the pipeline is built (pre-render) and
//    once it has been built and prerolled (post-render), with the pipeline (an object
//    answering IMediaGraph). The same object may answer IGraphBlockNotify, which the
//    control calls before every change that waits for the streaming threads to stop.
//
// Events. The control is an IConnectionPointContainer with one point, IMediaPlayerEvents.
//
// Video. IVideoRenderConfig installs a presenter (IVideoPresenter) whose element the
// control links in front of its video sink; IPlayerView gives the widget that shows the
// video (with the transport bar of uiMode "full" and "mini").
//
// Audio. For each medium the control creates, through the class table, an activation
// object of CLSID_MediaActivate (IActivate), activates it for IAudioTransform and uses the
// transform's element as its audio filter. The platform's own class gives a pass-through
// element; a class the program registers for the same identifier takes precedence.
//
// All calls are made on the thread the control lives on (the UI thread), except where a
// member says otherwise.

#include <cstdint>

#include "platform/com/Bstr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"

typedef struct _GstElement GstElement;
typedef struct _GtkWidget GtkWidget;

namespace norv::platform::media {

using namespace norv::com;

// The media player control's class.
constexpr CLSID CLSID_MediaPlayer = guid("{6BF52A52-394A-11D3-B153-00C04F79FAA6}");
// The class of the activation objects the control creates its audio transform with.
constexpr CLSID CLSID_MediaActivate = guid("{777D0CFF-0375-43B9-8532-FB04A4903593}");
// What the control sets on the activation object of its audio transform before it
// activates it, so that whoever intercepts the activation knows what and whose it is:
// the transform's category (VT_BSTR, the braced text of CATEGORY_AudioTransform) and the
// control's graph (VT_UNKNOWN, the object its graph-creation hooks receive).
constexpr GUID ATTR_TransformCategory = guid("{63A37697-1123-479A-8922-EF78BBDA8036}");
constexpr GUID CATEGORY_AudioTransform = guid("{13A7995E-7D8F-45B4-9C77-819265225763}");
constexpr GUID ATTR_TransformGraph = guid("{BC4862F6-845D-4DD6-9047-85AAA7F156E0}");
// The service under which the control asks its site for IRemoteMediaServices and
// IGraphCreation.
constexpr GUID SID_MediaPlayerServices = guid("{DF333473-2CF7-4BE2-907F-9AAD5661364F}");

// ---------------------------------------------------------------------------------------
// Embedding

struct IOleClientSite : IUnknown {
    static constexpr IID iid = guid("{00000118-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(std::uint32_t assign, std::uint32_t which, IUnknown** moniker) = 0;
    virtual HRESULT GetContainer(IUnknown** container) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(bool show) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;

protected:
    ~IOleClientSite() = default;
};

struct IServiceProvider : IUnknown {
    static constexpr IID iid = guid("{6D5140C1-7436-11CE-8034-00AA006009FA}");
    using Base = IUnknown;

    virtual HRESULT QueryService(const GUID& service, const IID& iid, void** out) = 0;

protected:
    ~IServiceProvider() = default;
};

// A width and height in HIMETRIC units (hundredths of a millimetre).
struct ExtentSize {
    std::int32_t cx = 0;
    std::int32_t cy = 0;
};

// The embedding protocol of an object in a document. Monikers, data objects, verb and
// advise enumerators and colour schemes have no counterpart here and travel as IUnknown
// or plain values.
struct IOleObject : IUnknown {
    static constexpr IID iid = guid("{00000112-0000-0000-C000-000000000046}");
    using Base = IUnknown;

    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
    virtual HRESULT SetHostNames(const Bstr& containerApp, const Bstr& containerObject) = 0;
    virtual HRESULT Close(std::uint32_t saveOption) = 0;
    virtual HRESULT SetMoniker(std::uint32_t which, IUnknown* moniker) = 0;
    virtual HRESULT GetMoniker(std::uint32_t assign, std::uint32_t which, IUnknown** moniker) = 0;
    virtual HRESULT InitFromData(IUnknown* dataObject, bool creation, std::uint32_t reserved) = 0;
    virtual HRESULT GetClipboardData(std::uint32_t reserved, IUnknown** dataObject) = 0;
    virtual HRESULT DoVerb(std::int32_t verb, IOleClientSite* activeSite, std::int32_t index) = 0;
    virtual HRESULT EnumVerbs(IUnknown** enumerator) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
    virtual HRESULT GetUserType(std::uint32_t form, Bstr* userType) = 0;
    virtual HRESULT SetExtent(std::uint32_t drawAspect, const ExtentSize& size) = 0;
    virtual HRESULT GetExtent(std::uint32_t drawAspect, ExtentSize* size) = 0;
    virtual HRESULT Advise(IUnknown* adviseSink, std::uint32_t* connection) = 0;
    virtual HRESULT Unadvise(std::uint32_t connection) = 0;
    virtual HRESULT EnumAdvise(IUnknown** enumerator) = 0;
    virtual HRESULT GetMiscStatus(std::uint32_t aspect, std::uint32_t* status) = 0;
    virtual HRESULT SetColorScheme(std::uint32_t scheme) = 0;

protected:
    ~IOleObject() = default;
};

// ---------------------------------------------------------------------------------------
// Services the control asks its site for (under SID_MediaPlayerServices)

struct IRemoteMediaServices : IUnknown {
    static constexpr IID iid = guid("{CBB92747-741F-44FE-AB5B-F1A48F3B2A59}");
    using Base = IUnknown;

    // "Local" or "Remote"; kept, not interpreted.
    virtual HRESULT GetServiceType(Bstr* type) = 0;
    virtual HRESULT GetApplicationName(Bstr* name) = 0;
    // An object a custom skin's script reaches under `name`.
    virtual HRESULT GetScriptableObject(Bstr* name, IDispatch** object) = 0;
    // The custom skin's address ("file://" + path) for uiMode "custom"; a failure makes
    // the control use its own user interface instead.
    virtual HRESULT GetCustomUIMode(Bstr* file) = 0;

protected:
    ~IRemoteMediaServices() = default;
};

// The control's pipeline, handed to the graph-creation hooks.
struct IMediaGraph : IUnknown {
    static constexpr IID iid = guid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;

    // The pipeline (a playbin), with a new reference for the caller.
    virtual HRESULT GetPipeline(GstElement** pipeline) = 0;

protected:
    ~IMediaGraph() = default;
};

struct IGraphCreation : IUnknown {
    static constexpr IID iid = guid("{BFB377E5-C594-4369-A970-DE896D5ECE74}");
    using Base = IUnknown;

    // Before the medium's pipeline is built (the address set, nothing linked yet).
    // `graph` answers IMediaGraph; `reserved` is null.
    virtual HRESULT GraphCreationPreRender(IUnknown* graph, IUnknown* reserved) = 0;
    // Once the medium's pipeline is built and prerolled, before it plays: its decoders,
    // converters and sinks exist and are linked.
    virtual HRESULT GraphCreationPostRender(IUnknown* graph) = 0;
    // Asked before the pre-render call; no flag changes what the control does.
    virtual HRESULT GetGraphCreationFlags(std::uint32_t* flags) = 0;

protected:
    ~IGraphCreation() = default;
};

// Optional, on the graph-creation object: told before the control makes a change that
// waits for the pipeline's streaming threads (a flushing seek, stop, a new medium, close,
// destruction), so that whatever holds a streaming thread (a call into page script, say)
// lets it go first. Runs on the UI thread; must not block.
struct IGraphBlockNotify : IUnknown {
    static constexpr IID iid = guid("{D9FB3068-EC31-4735-8659-880D0E69910A}");
    using Base = IUnknown;

    virtual HRESULT GraphWillBlock(IUnknown* graph) = 0;

protected:
    ~IGraphBlockNotify() = default;
};

// ---------------------------------------------------------------------------------------
// Video

// A presenter on the control's video path.
struct IVideoPresenter : IUnknown {
    static constexpr IID iid = guid("{3522D3DB-D183-46FE-AA96-658FC6F37F92}");
    using Base = IUnknown;

    // The element the control links in front of its video sink: one always sink pad
    // ("sink") taking raw video, one always source pad ("src") giving raw video; converters
    // stand on both sides, so it may restrict its caps to the formats it wants. Called
    // once when the presenter is installed; the control holds the element (with a new
    // reference from this call, floating or not) until the presenter is removed.
    virtual HRESULT CreateElement(GstElement** element) = 0;

protected:
    ~IVideoPresenter() = default;
};

// Answered by the control.
struct IVideoRenderConfig : IUnknown {
    static constexpr IID iid = guid("{6D6CF803-1EC0-4C8D-B3CA-F18E27282074}");
    using Base = IUnknown;

    // Installs `presenter` (replacing an earlier one), or removes it when null. While
    // media play, the element is linked in (or out) without a gap: the video path is held
    // between two frames while it is changed.
    virtual HRESULT put_presenter(IVideoPresenter* presenter) = 0;
    virtual HRESULT get_presenter(IVideoPresenter** presenter) = 0;

protected:
    ~IVideoRenderConfig() = default;
};

// Answered by the control: the widget that shows it.
struct IPlayerView : IUnknown {
    static constexpr IID iid = guid("{77AB89D2-47A5-430F-B35C-CAB7DFAD1940}");
    using Base = IUnknown;

    // The control's widget (video, and the transport bar in uiMode "full" and "mini"),
    // owned by the control, which destroys it when it goes away; null (and S_FALSE) when
    // the process has no GTK display. The host places it where the control belongs.
    virtual HRESULT GetWidget(GtkWidget** widget) = 0;

protected:
    ~IPlayerView() = default;
};

// ---------------------------------------------------------------------------------------
// Audio transform activation

// An attribute store: values (VT_I4, VT_UI4, VT_R8, VT_BSTR, VT_UNKNOWN, ...) by GUID key.
struct IAttributes : IUnknown {
    static constexpr IID iid = guid("{2CD2D921-C447-44A7-A13C-4ADABFC247E3}");
    using Base = IUnknown;

    // E_INVALIDARG when the key is not there.
    virtual HRESULT GetItem(const GUID& key, Variant* value) = 0;
    virtual HRESULT SetItem(const GUID& key, const Variant& value) = 0;
    virtual HRESULT DeleteItem(const GUID& key) = 0;
    virtual HRESULT DeleteAllItems() = 0;
    virtual HRESULT GetCount(std::uint32_t* count) = 0;
    // E_INVALIDARG for an index past the end.
    virtual HRESULT GetItemByIndex(std::uint32_t index, GUID* key, Variant* value) = 0;
    // Convenience forms of GetItem / SetItem for objects.
    virtual HRESULT GetUnknown(const GUID& key, const IID& iid, void** out) = 0;
    virtual HRESULT SetUnknown(const GUID& key, IUnknown* value) = 0;

protected:
    ~IAttributes() = default;
};

// An object that creates another on request.
struct IActivate : IAttributes {
    static constexpr IID iid = guid("{7FEE9E9A-4A89-47A6-899C-B6A53A70FB67}");
    using Base = IAttributes;

    // Creates (on the first call) the object and queries it for `iid`; later calls give
    // the same object until ShutdownObject or DetachObject.
    virtual HRESULT ActivateObject(const IID& iid, void** out) = 0;
    // Shuts the object down and releases it.
    virtual HRESULT ShutdownObject() = 0;
    // Releases the object without shutting it down.
    virtual HRESULT DetachObject() = 0;

protected:
    ~IActivate() = default;
};

// The control's audio transform: an element that the control uses as its audio filter
// (every decoded audio buffer passes it before conversion and the sink).
struct IAudioTransform : IUnknown {
    static constexpr IID iid = guid("{BF94C121-5B05-4E6F-8000-BA598961414D}");
    using Base = IUnknown;

    // The element (one sink pad, one source pad), with a new reference for the caller.
    // The same element on every call.
    virtual HRESULT GetElement(GstElement** element) = 0;

protected:
    ~IAudioTransform() = default;
};

} // namespace norv::platform::media
