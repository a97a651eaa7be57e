#pragma once
// PageBridge: the web-process half of the script bridge for one WebKitWebPage.
//
// At the first top-document window object it opens a socket pair and hands one end to
// the UI process in a user message; the UI answers Hello on the socket when a
// ScriptBridge accepted it (or drops the message, which closes the socket), offering an
// area of shared memory. For every top document it then installs the bridge script in
// the main world and tells the UI, which runs its init script and sets its values through
// nested calls.
//
// The traffic is the rpc::Endpoint's; everything here runs on the page's main thread (the
// only one JavaScriptCore allows). Calls are synchronous: while one waits for its reply
// the page serves only the socket, handling every call of the UI meanwhile, whichever UI
// thread made it. When idle, a main-loop source serves the UI's calls (script callbacks,
// runScript, calls from the UI's other threads).
//
// Strings cross as UTF-16 code units, exactly as script holds them: the engine's GLib
// interface speaks UTF-8, which cannot carry a lone surrogate, so strings that are not
// well formed go through the bridge script as arrays of code units.
//
// The UI also tells the page the user agent its http and https requests carry (right
// after the greeting, and whenever it changes): the bridge writes it into the User-Agent
// header of each such request as WebKit sends it (`send-request`). WebKit applies a new
// user-agent setting only between script turns, but a change the UI makes during a
// script's call into native code reaches the page before that call returns, so even a
// request started right after it carries the new text. Without a text from the UI (none
// given, the empty text, or no connection) WebKit's own header stays.

#include <jsc/jsc.h>
#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/glib/GObjectRef.h"
#include "platform/web/rpc/Endpoint.h"
#include "platform/web/rpc/EndpointSource.h"
#include "platform/web/rpc/SharedArea.h"

namespace norv::web::bridge {

using glib::GObjectRef;

class PageBridge final : private rpc::Endpoint::Side {
public:
    explicit PageBridge(WebKitWebPage* page);
    ~PageBridge();
    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // The top frame's main-world window object was (re)created: a new document.
    void windowObjectCleared(WebKitFrame* frame, WebKitScriptWorld* world);

    // What the native entry point of one document reaches; cut when the document goes.
    struct Link {
        PageBridge* bridge = nullptr;
    };

private:
    static gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request,
                                  WebKitURIResponse* redirect, gpointer self);

    bool connected() const { return endpoint_ && endpoint_->isOpen(); }
    bool connect();
    void disconnect();
    void dropDocument();
    bool installScript(WebKitFrame* frame, WebKitScriptWorld* world);

    // What a reply carried, converted when it was read.
    struct Answer {
        bool replied = false;
        bool empty = true;
        bool failed = false;
        rpc::Value error;
        GObjectRef<JSCValue> value;
    };
    Answer call(rpc::Op op, std::vector<rpc::Value> values);

    // rpc::Endpoint::Side
    void serveRequest(rpc::Message& request, rpc::Message& reply) override;
    void serveNotice(rpc::Message& notice) override;
    void dropReply(rpc::Message& reply) override;
    void collectReleases() override;
    void ended() override;

    // Script side
    static JSCValue* entry(GPtrArray* args, gpointer link);
    JSCValue* enter(GPtrArray* args);
    JSCValue* fail(std::int32_t hr, const std::u16string& description);
    JSCValue* answerValue(Answer& answer); // transfer full
    rpc::Value toWire(JSCValue* value);
    JSCValue* fromWire(const rpc::Value& value); // transfer full
    // Tells the UI something that needs no answer.
    void notify(rpc::Op op, std::vector<rpc::Value> values);
    JSCValue* proxyFor(std::uint32_t handle);                        // transfer full
    JSCValue* helperCall(JSCValue* fn, std::vector<JSCValue*> args); // transfer full
    bool takeScriptFailure(JSCValue* result, rpc::Value& error);
    rpc::Value exceptionToError();
    void proxyCleared(std::uint32_t handle, JSCWeakValue* weak);
    // The code units of a string value, exactly.
    std::u16string unitsOf(JSCValue* string);
    // A member name from the bridge script: a string or the array of its code units.
    std::u16string nameOf(JSCValue* name);
    JSCValue* newString(const std::u16string& text); // transfer full
    // A Uint8Array over the shared memory [offset, offset + size); null when none.
    JSCValue* sharedView(std::uint32_t offset, std::uint32_t size); // transfer full
    void unmapSharedView();

    WebKitWebPage* page_;
    // The User-Agent header of http and https requests, one octet per character (how
    // WebKit reads a header it is handed); empty: WebKit's own.
    std::string userAgent_;

    // A call of the endpoint on the stack keeps it alive when the bridge lets go of it.
    std::shared_ptr<rpc::Endpoint> endpoint_;
    std::unique_ptr<rpc::EndpointSource> source_;
    std::shared_ptr<rpc::SharedArea> shared_;
    // The engine only lets script see memory it allocated itself: the document's view of
    // the shared memory is an ArrayBuffer of its own whose inner pages are the shared
    // ones, mapped over them, and given back as plain memory when the document goes.
    GObjectRef<JSCValue> sharedBuffer_;
    std::uint8_t* sharedPages_ = nullptr;
    std::size_t sharedBufferOffset_ = 0; // of sharedPages_ in the buffer
    std::size_t sharedLength_ = 0;

    // The current document.
    std::shared_ptr<Link> link_;
    GObjectRef<JSCContext> context_;
    GObjectRef<WebKitFrame> frame_; // the top frame whose document it is
    GObjectRef<JSCValue> fail_, method_, unknown_, date_;
    GObjectRef<JSCValue> make_, classify_, forget_, setPath_, get_, put_, call_, has_;
    GObjectRef<JSCValue> units_, fromUnits_, run_, fire_, makeDate_;
    struct Proxy {
        GObjectRef<JSCWeakValue> weak;
        std::uint32_t received = 0;
    };
    std::unordered_map<std::uint32_t, Proxy> proxies_;
    struct ScriptObject {
        GObjectRef<JSCValue> value;
        std::uint32_t sent = 0;
    };
    std::unordered_map<std::uint32_t, ScriptObject> objects_;
    std::vector<std::pair<std::uint32_t, JSCWeakValue*>> cleared_; // noted by the collector
    std::vector<GObjectRef<JSCWeakValue>> dead_;                   // kept until then
};

} // namespace norv::web::bridge
