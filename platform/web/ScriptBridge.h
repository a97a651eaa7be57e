#pragma once
// ScriptBridge: gives the page of a WebKitWebView access to native dispatch objects.
//
// The bridge has two halves. In each web process the extension libnorv-bridge.so
// (platform/web/bridge/) turns native objects into JavaScript proxies; in this (UI)
// process a ScriptBridge attached to the view owns the native objects and answers the
// proxies' calls. The halves talk over a private socket (both ends are an
// rpc::Endpoint); calls are synchronous and re-entrant both ways: while the UI side waits
// for script it runs nested main-loop iterations (GTK and WebKit stay alive, and script
// may call native again); while the page waits for native code it serves only the
// bridge's calls, from whichever thread of this process they come.
//
// What script sees:
// - a native object is a proxy: reading a property is Invoke(DISPATCH_PROPERTYGET),
//   assigning one Invoke(DISPATCH_PROPERTYPUT) with the named argument
//   DISPID_PROPERTYPUT, calling a method Invoke(DISPATCH_METHOD | DISPATCH_PROPERTYGET)
//   (names looked up with GetIDsOfNames); calling the proxy itself invokes DISPID 0;
// - a failing HRESULT is thrown as an Error whose `number` is the HRESULT as a signed
//   32-bit integer and whose `description` and `message` are the text of the error
//   information the call left (or of the exception information of DISP_E_EXCEPTION, or
//   the system's text for the HRESULT when there is none);
// - values: VT_EMPTY undefined, VT_NULL and a null string null, VT_BOOL boolean,
//   integers and reals number, VT_BSTR string (embedded NULs survive), VT_DISPATCH /
//   VT_UNKNOWN an object (a null one is null). Script numbers that are 32-bit integers
//   arrive as VT_I4, other numbers as VT_R8;
// - an object keeps its identity across the boundary: a native object handed to script
//   twice is the same proxy, and handed back it is the same native pointer; a script
//   function or object handed to native code is an IDispatch (the same one while native
//   code holds it) whose DISPID 0 with DISPATCH_METHOD calls the function, and whose
//   named members read, write and call the script object's properties;
// - native objects are released when script drops their proxies (garbage collection)
//   and all at once when the document goes away (navigation, web process gone).
//
// - strings cross exactly as script holds them (UTF-16 code units, lone surrogates too);
// - a block of sharedMemory() handed over as VT_UI1 | VT_BYREF is a Uint8Array over the
//   same bytes in the page.
//
// - a date (VT_DATE) is a Date (0.0 is 1899-12-30 00:00) and a Date handed to native code
//   is VT_DATE; a byte array (VT_ARRAY | VT_UI1) is a Uint8Array holding a copy; an array
//   of variants is an Array.
//
// Elements that host native objects: an <object> whose classid is
// "clsid:{6BF52A52-394A-11D3-B153-00C04F79FAA6}" (any case, made by script or written in
// the markup) asks the host for its object when it is connected to the document (see
// setElementHandlers). The element then carries the object's members as its own: every
// member the object's type information names (as it spells them) is an accessor property
// (plain properties) or a method (methods, and properties that take an index: read as
// el.member(i), written as el.member(i, value)). A result that is a record is a plain
// object with the record's field names (GUIDs as braced upper-case strings, the block that
// follows the record as a Uint8Array). Each event of the object is a DOM event of that name
// on the element whose properties are the event's arguments named after its parameters
// with the first letter in lower case (NewState -> newState); an element property named
// "on" + the event's name that holds a function is called with the event first. The
// element reports its rectangle in the viewport as it changes; the object is let go when
// the element leaves the document (or loses its classid) and when the document goes.
//
// Only the top document's main world gets the bridge; frames get nothing.
// All members must be called on the thread that created the bridge (the UI thread). The
// ScriptObjects script hands to native code may be called from any thread (see
// ScriptObject.h); the page's calls into native objects are always served on the UI
// thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Guid.h"
#include "platform/com/HResult.h"
#include "platform/com/TypeInfo.h"
#include "platform/com/Variant.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitWebView WebKitWebView;

namespace norv::web {

namespace rpc {
class SharedArea;
}

// A call through a script object whose document is gone, or a bridge call while no
// document is connected, fails with com::RPC_E_DISCONNECTED ("The object invoked has
// disconnected from its clients").
using com::RPC_E_DISCONNECTED;
// A bridge call made on another thread than the bridge's own.
constexpr com::HRESULT RPC_E_WRONG_THREAD = com::hresult(0x8001010E);
// A call into the page from another thread that got no answer before its deadline.
constexpr com::HRESULT RPC_E_TIMEOUT = com::hresult(0x8001011F);
// A call into the page from another thread that the UI thread cancelled.
constexpr com::HRESULT RPC_E_CALL_CANCELED = com::hresult(0x80010002);

// The page's own window functions that belong to the host.
enum class WindowCall { close, resizeTo, resizeBy, moveTo, moveBy };

// An uncaught script error of the top document, as the page reported it.
struct ScriptError {
    com::Bstr url;
    com::Bstr message;
    std::int32_t line = 0;
    std::int32_t code = 0;
    std::int32_t character = 0; // column
};

// An element of the page that hosts a native object; unique for the life of a bridge.
using ElementId = std::uint64_t;

// What the host gives an element that asks for its object.
struct ElementObject {
    com::ComPtr<com::IDispatch> object;
    // Described interfaces whose members the element carries besides those of the object's
    // own type information (IDispatch::GetTypeInfo); the first to name a member wins.
    std::vector<com::ComPtr<com::ITypeInfo>> interfaces;
    // The object's events interface: the bridge connects to the object's connection point
    // for it (IConnectionPointContainer::FindConnectionPoint of its identifier). Null: the
    // element raises no events.
    com::ComPtr<com::ITypeInfo> events;
    // The records results may hold, by name (the ParamInfo's type name).
    std::vector<const com::RecordInfo*> records;
};

// The element's border box in the viewport, in CSS pixels; `visible` is false while it is
// not rendered (display: none on it or an ancestor, visibility: hidden). `clip`, when the
// page reports it, is the part of the viewport the element can be seen in: the viewport
// narrowed to the inside of every ancestor that clips its overflow (a scrolling pane).
struct ElementClip {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const ElementClip&, const ElementClip&) = default;
};
struct ElementBox {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool visible = false;
    std::optional<ElementClip> clip;
    friend bool operator==(const ElementBox&, const ElementBox&) = default;
};

// The host's side of the elements (UI thread). Each may be empty.
struct ElementHandlers {
    // The object for a new element with this class; a failure leaves the element without
    // one (it may ask again when it is connected again).
    std::function<com::HRESULT(ElementId, const com::CLSID&, ElementObject&)> create;
    // The element's rectangle or visibility changed (the first report follows create).
    std::function<void(ElementId, const ElementBox&)> box;
    // The element's object was let go: the element left the document, or the document
    // went away. Not called for an element whose create failed.
    std::function<void(ElementId)> released;
};

class ScriptBridge {
public:
    // File name of the web-process extension.
    static constexpr const char* extensionFileName = "libnorv-bridge.so";

    // Makes the web processes of `context` load the bridge extension from
    // `extensionDirectory` (empty: programExtensionDirectory()). Call once per context,
    // before any of its views loads a page; later calls for the same context do nothing.
    // WebKit loads every shared object of that folder, so keep other .so files out of it.
    static void prepareContext(WebKitWebContext* context,
                               const std::string& extensionDirectory = {});

    // The folder of the running program's extension: the executable's own folder when the
    // extension is there (the build puts it beside every executable that hosts web views),
    // else the program's private library folder relative to the executable, where the
    // install rules put it (<prefix>/bin/../lib/<multiarch>/norv-view), so that one binary
    // works from the build tree, /usr/local and /usr. When neither holds it, a warning
    // says so and the executable's folder is returned (pages then get no bridge).
    static std::string programExtensionDirectory();
    // The rule of programExtensionDirectory for an executable in `executableDirectory`
    // whose private folder is `installedDirectory` relative to it: the folder that holds
    // the extension, normalised; empty when neither does.
    static std::string findExtensionDirectory(const std::string& executableDirectory,
                                              const std::string& installedDirectory);

    // Makes the results of native objects' members whose type information gives them as
    // the record `record` (by its name) reach script as plain objects with the record's
    // fields, in every page. The description lives as long as the program; a record named
    // once already is kept as it was.
    static void describeRecord(const com::RecordInfo& record);

    // The User-Agent header of the http and https requests of `view`'s pages, set by the
    // bridge in the page's web process as each request is sent; empty: WebKit's own
    // (that of the view's settings). The text is kept with the view: the bridge attached
    // to it tells the page at once (before this returns: a page waiting in a call into
    // native code has it before that call returns, so its next request carries it even
    // in the same script turn) and every page that connects later. Requests a new web
    // process sends before its first document connects carry WebKit's own header.
    // E_INVALIDARG for a text that is not a valid header value (a line break, say): the
    // pages then send WebKit's own header. RPC_E_WRONG_THREAD off the bridge's thread.
    static com::HRESULT setRequestUserAgent(WebKitWebView* view, std::string_view text);

    // The document that `frameElement` shows: an <iframe> or <frame> element script
    // handed to native code. Whatever the document's origin: the page's own script is
    // refused the document of a frame of another origin, native code is not, and the
    // document it gets here reaches script like any other script object. `document` is
    // set to null when the element shows none. E_NOINTERFACE for an object that is no
    // frame element of a page, RPC_E_DISCONNECTED once its document is gone,
    // RPC_E_WRONG_THREAD off the bridge's thread.
    static com::HRESULT frameDocument(com::IDispatch* frameElement,
                                      com::ComPtr<com::IDispatch>* document);

    // Attaches to `view` (whose context was prepared). The bridge must not outlive the
    // view; destroying it disconnects the page (its proxies then fail with
    // RPC_E_DISCONNECTED) and releases every native object script held.
    explicit ScriptBridge(WebKitWebView* view);
    ~ScriptBridge();
    ScriptBridge(const ScriptBridge&) = delete;
    ScriptBridge& operator=(const ScriptBridge&) = delete;

    // Script run verbatim in each new top document's main world as soon as its window
    // object is ready, before anything else the bridge does there. Empty: none.
    // Errors it throws are its own business (they are not reported).
    void setInitScript(std::u16string script);

    // Sets `path` to `value` (see setScriptValue) in every new top document, after the
    // init script, in the order of registration. Registering a path again replaces its
    // value in place; a null value removes the registration. Takes effect from the next
    // document on (use setScriptValue for the current one).
    void bindScriptValue(std::u16string path, com::ComPtr<com::IDispatch> value);

    // Called once per top document when its window object is ready, after the init
    // script and the bound values, with the document's address. The page waits until
    // it returns; runScript and setScriptValue work inside it.
    void setScriptWindowReadyHandler(std::function<void(const com::Bstr& url)> handler);

    // Called for each script error the top document does not handle itself (an
    // `error` event whose default was not prevented), while the page waits. The return
    // value says whether the page's scripts should go on running; WebKit cannot stop
    // them, so it is only passed on.
    void setScriptErrorHandler(std::function<bool(const ScriptError&)> handler);

    // Called when the top document calls window.close(), resizeTo(x, y), resizeBy(x, y),
    // moveTo(x, y) or moveBy(x, y) (the arguments as numbers, truncated; 0 for what is no
    // number): the page's own functions of that name come here instead of the engine. A
    // failure is thrown in the page with its text taken from the thread's error
    // information. Without a handler the calls do nothing.
    void setWindowCallHandler(
        std::function<com::HRESULT(WindowCall call, std::int32_t x, std::int32_t y)> handler);

    // How elements that host native objects get them (see the top of this file).
    void setElementHandlers(ElementHandlers handlers);
    // Elements that hold an object now.
    std::size_t liveElements() const;

    // True while a top document is connected (its window object was made ready and its
    // web process is alive).
    bool hasScriptWindow() const;

    // Runs `code` in the current top document's main world. On success `result` (when
    // given) receives the completion value. A thrown exception gives DISP_E_EXCEPTION
    // with error information whose description is the exception's message; no document
    // gives E_ACCESSDENIED.
    com::HRESULT runScript(std::u16string_view code, com::Variant* result = nullptr);

    // Sets a dotted property path in the current top document: the path is split at
    // "." (empty pieces are skipped), the first piece is looked up on the global
    // object (so "window.tavi.host" starts at window), every missing piece but the last
    // is created as a new empty object, existing objects (such as a window.tavi the page
    // defined itself) are kept, and the last piece is assigned `value`.
    // E_ACCESSDENIED without a document; DISP_E_TYPEMISMATCH when a piece on the way is
    // not an object; E_INVALIDARG for a path without pieces.
    com::HRESULT setScriptValue(std::u16string_view path, const com::Variant& value);

    // Calls into the page are allowed from any thread through the ScriptObjects script
    // handed out (a streaming thread calling a script filter, say); they wait for at most a
    // deadline while the page is served as usual. This cancels every such call waiting now
    // (each fails with RPC_E_CALL_CANCELED at once) and makes new ones fail the same way
    // until the returned hold is destroyed; the UI thread takes it before it waits for a
    // thread that may be waiting for script. Null without a page.
    [[nodiscard]] std::shared_ptr<void> holdWorkerCalls();

    // The memory the current page shares with this process (null without a page, or when
    // the system offers none). A block reserved in it and passed to script as
    // Variant::fromByteRef(block.bytes().data()) is a Uint8Array over the same bytes there.
    // A byte reference followed by its size (a number) in a call's arguments, as a stream
    // filter's process(type, t0, t1, dataBuff, dataSize) gets them, is a Uint8Array over
    // exactly those bytes: over the shared memory itself when they lie inside a reserved
    // block, else over a copy in the shared memory whose content is copied back when the
    // call returns.
    std::shared_ptr<rpc::SharedArea> sharedMemory() const;

    // Native objects script currently holds (each counted once), for diagnostics and
    // tests.
    std::size_t liveNativeObjects() const;
    // Script objects native code currently holds through this bridge.
    std::size_t liveScriptObjects() const;

    class Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace norv::web
