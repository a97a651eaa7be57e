#pragma once
// PageBridge: the web-process half of the script bridge for one WebKitWebPage.
//
// At the first top-document window object it opens a socket pair and hands one end to
// the UI process in a user message; the UI answers Hello on the socket when a
// ScriptBridge accepted it (or drops the message, which closes the socket). For every
// top document it then installs the bridge script in the main world and tells the UI,
// which runs its init script and sets its values through nested calls.
//
// Calls are synchronous: while one waits for its reply the page serves only the
// socket, handling the UI's nested calls. When idle, a main-loop watch serves the UI's
// calls (script callbacks, runScript).
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
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/glib/GObjectRef.h"
#include "platform/web/rpc/Channel.h"
#include "platform/web/rpc/Message.h"

namespace norv::web::bridge {

using glib::GObjectRef;

class PageBridge {
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

    bool connect();
    void disconnect();
    void dropDocument();
    bool installScript(WebKitFrame* frame, WebKitScriptWorld* world);

    // RPC
    std::optional<rpc::Message> call(rpc::Op op, std::vector<rpc::Value> values);
    void send(rpc::Message message);
    // Handles the messages read so far; stops right after filing a reply (true).
    bool handleBuffered();
    void scheduleDrain();
    static gboolean onDrain(gpointer self);
    void handle(rpc::Message& message);
    void handleRequest(rpc::Message& message);
    void handleNotice(const rpc::Message& message);
    void flushReleases();
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);
    static gboolean onFlush(gpointer self);

    // Script side
    static JSCValue* entry(GPtrArray* args, gpointer link);
    JSCValue* enter(GPtrArray* args);
    JSCValue* fail(std::int32_t hr, const std::u16string& description);
    JSCValue* failFromReply(const rpc::Value& error);
    JSCValue* replyValue(const std::optional<rpc::Message>& reply);
    rpc::Value toWire(JSCValue* value);
    JSCValue* fromWire(const rpc::Value& value);                     // transfer full
    JSCValue* proxyFor(std::uint32_t handle);                        // transfer full
    JSCValue* helperCall(JSCValue* fn, std::vector<JSCValue*> args); // transfer full
    bool takeScriptFailure(JSCValue* result, rpc::Value& error);
    rpc::Value exceptionToError();
    void proxyCleared(std::uint32_t handle, JSCWeakValue* weak);

    WebKitWebPage* page_;
    // The User-Agent header of http and https requests; empty: WebKit's own.
    std::string userAgent_;
    std::unique_ptr<rpc::Channel> channel_;
    guint watch_ = 0;
    guint flush_ = 0;
    guint drain_ = 0;
    bool broken_ = false; // the UI broke the protocol: stop listening
    std::uint32_t nextCallId_ = 1;
    std::map<std::uint32_t, std::optional<rpc::Message>> pending_;

    // The current document.
    std::shared_ptr<Link> link_;
    GObjectRef<JSCContext> context_;
    GObjectRef<JSCValue> fail_, method_, unknown_;
    GObjectRef<JSCValue> make_, classify_, forget_, setPath_, get_, put_, call_, has_;
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
    std::vector<std::pair<std::uint32_t, std::uint32_t>> releases_; // handle, count
    std::vector<std::pair<std::uint32_t, JSCWeakValue*>> cleared_;  // noted by the collector
    std::vector<GObjectRef<JSCWeakValue>> dead_;                    // kept until then
};

} // namespace norv::web::bridge
