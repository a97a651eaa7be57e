#pragma once
// BridgeConnection: the UI-process end of one page's bridge socket.
//
// It owns the native objects handed to script (a handle table with one reference per
// object, counting how often each handle was sent so that a release from the page and
// a new hand-out crossing on the wire cannot free an object script still sees), the
// ScriptObject wrappers of script objects handed to native code, and the synchronous,
// re-entrant calls in both directions. A call waits in nested main-loop iterations; the
// socket's watch may recurse, so calls from the page made meanwhile are served.
//
// Every message from the web process is validated: a malformed frame or a reply
// nobody waits for closes the connection; a well-formed request with bad arguments gets
// an error reply.

#include <glib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/com/Dispatch.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/rpc/Channel.h"
#include "platform/web/rpc/Message.h"

namespace norv::web {

class ScriptObject;

class BridgeConnection : public std::enable_shared_from_this<BridgeConnection> {
public:
    // What the connection asks of the bridge that accepted it.
    struct Host {
        virtual void documentReady(const com::Bstr& url) = 0;
        virtual bool scriptError(const ScriptError& error) = 0;

    protected:
        ~Host() = default;
    };

    // Takes ownership of `fd`.
    BridgeConnection(int fd, Host* host);
    ~BridgeConnection();
    BridgeConnection(const BridgeConnection&) = delete;
    BridgeConnection& operator=(const BridgeConnection&) = delete;

    // Greets the page and starts serving its calls.
    void start();
    // Ends the connection: every native object script held is released and every
    // ScriptObject fails from now on. Safe while calls are waiting (they fail).
    void close();
    void detachHost() { host_ = nullptr; }

    bool isOpen() const { return channel_.isOpen(); }
    bool hasDocument() const { return isOpen() && generation_ > 0; }
    // True while document `generation` is the live one.
    bool isCurrent(std::uint32_t generation) const { return isOpen() && generation == generation_; }
    bool onOwnThread() const { return std::this_thread::get_id() == thread_; }

    // Calls into the page.
    com::HRESULT runScript(std::u16string_view code, com::Variant* result);
    com::HRESULT setPath(std::u16string_view path, const com::Variant& value);
    // name empty with `call`: calls the object itself.
    enum class ScriptAction { Get, Put, Call, Has };
    com::HRESULT scriptAction(std::uint32_t id, std::uint32_t generation, ScriptAction action,
                              const std::u16string& name, bool getToo,
                              std::vector<com::Variant> args, com::Variant* result,
                              com::ExcepInfo* excepInfo);

    // Tells the page the User-Agent header of its http and https requests from now on
    // (empty: WebKit's own). It is on the wire before this returns, so the page has it
    // before the reply to any call it is waiting for. A text that is not a valid header
    // value gives E_INVALIDARG and the page WebKit's own header. S_OK without a
    // connection (nothing to tell).
    com::HRESULT sendUserAgent(std::string_view text);

    // A ScriptObject went away after `count` hand-outs of script object `id`.
    void wrapperGone(ScriptObject* wrapper, std::uint32_t id, std::uint32_t generation,
                     std::uint32_t count);

    std::size_t liveNativeObjects() const { return natives_.size(); }
    std::size_t liveScriptObjects() const { return wrappers_.size(); }

private:
    std::optional<rpc::Message> call(rpc::Op op, std::vector<rpc::Value> values);
    void send(const rpc::Message& message);
    void flushReleases();
    // Handles the messages read so far; stops right after filing a reply (true).
    bool handleBuffered();
    void scheduleDrain();
    void handleRequest(rpc::Message& message);
    void handleNotice(const rpc::Message& message);
    static gboolean onReadable(gint fd, GIOCondition condition, gpointer self);

    void newDocument(const com::Bstr& url);
    void releaseAll();
    rpc::Value toWire(const com::Variant& value);
    // False (with the error to reply) when the value names nothing valid.
    bool fromWire(const rpc::Value& value, com::Variant& out, rpc::Value& error);
    rpc::Value dispatchToWire(com::IDispatch* object);
    com::HRESULT failureOf(const rpc::Message& reply, com::Variant* result,
                           com::ExcepInfo* excepInfo);

    void onGet(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onPut(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onCall(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onHas(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onScriptError(const std::vector<rpc::Value>& args, rpc::Message& reply);

    struct Native {
        com::ComPtr<com::IDispatch> object;
        com::ComPtr<com::IUnknown> identity;
        std::uint32_t sent = 0;
        std::unordered_map<std::u16string, com::DISPID> ids; // names looked up so far
    };
    Native* native(const rpc::Value& value);
    // The object's identifier for `name`, asked once and then remembered. The object may
    // re-enter the connection meanwhile.
    com::HRESULT lookUp(std::uint32_t handle, const std::u16string& name, com::DISPID& id);

    rpc::Channel channel_;
    Host* host_;
    std::thread::id thread_;
    GSource* source_ = nullptr;
    std::uint32_t nextCallId_ = 1;
    std::map<std::uint32_t, std::optional<rpc::Message>> pending_;
    std::uint32_t generation_ = 0;

    std::unordered_map<std::uint32_t, Native> natives_;
    std::unordered_map<com::IUnknown*, std::uint32_t> nativeIds_;
    std::uint32_t lastNative_ = 0;
    std::unordered_map<std::uint32_t, ScriptObject*> wrappers_; // not owned
    std::vector<rpc::Value> releases_; // script objects let go, not yet told to the page
    guint flush_ = 0;
    guint drain_ = 0;
    bool broken_ = false; // the page broke the protocol
};

} // namespace norv::web
