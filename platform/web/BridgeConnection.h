#pragma once
// BridgeConnection: the UI-process end of one page's bridge socket.
//
// It owns the native objects handed to script (a handle table with one reference per
// object, counting how often each handle was sent so that a release from the page and a
// new hand-out crossing on the wire cannot free an object script still sees), the
// ScriptObject wrappers of script objects handed to native code, and the conversion of
// values both ways. The traffic itself (calls waiting for replies, ordering, output,
// releases, the end) is its rpc::Endpoint's; the page's calls are served on the thread
// that created the connection (the UI thread), in nested main-loop rounds while a call of
// that thread waits.
//
// Calls into the page may come from any thread (a streaming thread calling a script
// filter, say): each waits for its own reply, for at most a deadline, and gets it even
// while the UI thread is busy elsewhere. The UI thread can cancel them all at once
// (holdWorkerCalls), and a new document or the end of the page ends them too.
//
// The page is offered an area of shared memory when it connects: a block reserved in it
// and handed over as VT_UI1 | VT_BYREF (pointing at the block's first byte) reaches
// script as a Uint8Array over the same bytes; so do bytes inside a block handed over as a
// byte reference followed by their size.
//
// Elements of the page that host native objects have an ElementSite each, for the
// document that made them; they are released when the element leaves, with the document,
// and when the connection ends.
//
// Every message from the web process is validated: a malformed frame or a reply nobody
// waits for closes the connection; a well-formed request with bad arguments gets an error
// reply.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/com/Dispatch.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/rpc/Endpoint.h"
#include "platform/web/rpc/EndpointSource.h"
#include "platform/web/rpc/SharedArea.h"

namespace norv::web {

class ElementSite;
class ScriptObject;

class BridgeConnection final : public std::enable_shared_from_this<BridgeConnection>,
                               private rpc::Endpoint::Side {
public:
    // See ScriptBridge::describeRecord.
    static void describeRecord(const com::RecordInfo& record);
    // What the connection asks of the bridge that accepted it (on the UI thread).
    struct Host {
        virtual void documentReady(const com::Bstr& url) = 0;
        virtual bool scriptError(const ScriptError& error) = 0;
        // The page called a window function that belongs to the host; a failure's text
        // is taken from the thread's error information.
        virtual com::HRESULT windowCall(WindowCall call, std::int32_t x, std::int32_t y) = 0;
        // Elements that host native objects (see ScriptBridge.h).
        virtual com::HRESULT createElement(ElementId, const com::CLSID&, ElementObject&) {
            return com::E_NOTIMPL;
        }
        virtual void elementBox(ElementId, const ElementBox&) {}
        virtual void elementReleased(ElementId) {}

    protected:
        ~Host() = default;
    };

    using Deadline = rpc::Endpoint::Deadline;
    static constexpr Deadline noDeadline = rpc::Endpoint::noDeadline;
    // Shared memory offered to each page.
    static constexpr std::size_t defaultSharedSize = 4u << 20;
    // How long a call made on another thread than the UI thread waits for the page unless
    // it names its own deadline.
    static constexpr std::chrono::milliseconds workerCallTimeout{1000};

    // Takes ownership of `fd`. The calling thread is the connection's own (UI) thread.
    BridgeConnection(int fd, Host* host, std::size_t sharedSize = defaultSharedSize);
    ~BridgeConnection();
    BridgeConnection(const BridgeConnection&) = delete;
    BridgeConnection& operator=(const BridgeConnection&) = delete;

    // Greets the page (offering the shared memory) and starts serving its calls.
    void start();
    // Ends the connection: every call waiting for the page ends, every native object
    // script held is released, and every ScriptObject fails from now on. Safe while calls
    // are waiting (they fail).
    void close();
    void detachHost() { host_ = nullptr; }

    bool isOpen() const { return endpoint_->isOpen(); }
    bool hasDocument() const { return isOpen() && generation_ > 0; }
    // True while document `generation` is the live one. Any thread.
    bool isCurrent(std::uint32_t generation) const {
        return generation != 0 && generation == generation_.load() && isOpen();
    }
    bool onOwnThread() const { return std::this_thread::get_id() == thread_; }
    std::thread::id ownThread() const { return thread_; }

    // Calls into the page (UI thread).
    com::HRESULT runScript(std::u16string_view code, com::Variant* result);
    com::HRESULT setPath(std::u16string_view path, const com::Variant& value);
    // A member of script object `id` of document `generation` (any thread; name empty with
    // Call: the object itself). Waits at most until `deadline`: RPC_E_TIMEOUT after it,
    // RPC_E_CALL_CANCELED when the call was cancelled (by `cancel` too, for a call from
    // another thread), RPC_E_DISCONNECTED when the document or the page went away.
    // FrameDocument: the document frame element `id` shows, whatever its origin (VT_NULL:
    // none; E_NOINTERFACE: the object is no frame element).
    enum class ScriptAction { Get, Put, Call, Has, FrameDocument };
    com::HRESULT scriptAction(std::uint32_t id, std::uint32_t generation, ScriptAction action,
                              const std::u16string& name, bool getToo,
                              std::vector<com::Variant> args, com::Variant* result,
                              com::ExcepInfo* excepInfo, Deadline deadline,
                              std::stop_token cancel = {});

    // Tells the page the User-Agent header of its http and https requests from now on
    // (UTF-8; empty: WebKit's own). It is queued before anything this thread sends later,
    // so the page has it before the reply to any call it is waiting for. A text that is
    // not header text (rpc::isHeaderText) gives E_INVALIDARG and the page WebKit's own
    // header. S_OK without a connection (nothing to tell).
    com::HRESULT sendUserAgent(std::string_view text);

    // Cancels every call from another thread that waits for the page now, and makes new
    // ones fail at once (RPC_E_CALL_CANCELED) while the hold lives; any thread. For
    // example before a pipeline state change on the UI thread that would otherwise wait
    // for a streaming thread that waits for script.
    class WorkerHold {
    public:
        WorkerHold() = default;

    private:
        friend class BridgeConnection;
        std::shared_ptr<BridgeConnection> connection_;
        rpc::Endpoint::Hold hold_;
    };
    WorkerHold holdWorkerCalls();

    // The memory shared with the page; null when there is none.
    const std::shared_ptr<rpc::SharedArea>& sharedArea() const { return shared_; }

    // A ScriptObject of document `generation` went away after `count` hand-outs of script
    // object `id`.
    void wrapperGone(ScriptObject* wrapper, std::uint32_t id, std::uint32_t generation,
                     std::uint32_t count);
    // The last reference of `wrapper` is about to be released (UI thread): the table stops
    // finding it, so that no other thread takes a reference to it meanwhile.
    void lastReleaseOf(ScriptObject* wrapper);

    std::size_t liveNativeObjects() const;
    std::size_t liveScriptObjects() const;
    std::size_t liveElements() const;

    // Raises event `name` of element `element` of document `generation` with its arguments
    // (in their order, named as script sees them) on the element. Any thread; off the UI
    // thread it waits workerCallTimeout at most.
    void elementEvent(std::int32_t element, std::uint32_t generation, const std::u16string& name,
                      std::vector<std::pair<std::u16string, com::Variant>> args);

    // How many elements of one document may hold objects at once.
    static constexpr std::size_t maxElements = 256;

private:
    // What a reply carried, converted when it was read.
    struct Answer {
        bool empty = true;   // no value (a get of a method)
        bool failed = false; // an Error value
        rpc::Value error;
        com::Variant value;
    };
    com::HRESULT request(rpc::Op op, std::vector<rpc::Value> values, Deadline deadline,
                         Answer& answer, std::uint32_t tag, std::stop_token cancel = {},
                         std::uint32_t* sent = nullptr);
    com::HRESULT failureOf(const Answer& answer, com::Variant* result, com::ExcepInfo* excepInfo);

    // rpc::Endpoint::Side
    void serveRequest(rpc::Message& request, rpc::Message& reply) override;
    void serveNotice(rpc::Message& notice) override;
    void dropReply(rpc::Message& reply) override;
    void ended() override;

    void newDocument(const com::Bstr& url);
    void releaseAll();
    // `depth`: how deep in lists and records the value lies (deeper ones become null).
    rpc::Value toWire(const com::Variant& value, int depth = 0);
    // False (with the error to reply) when the value names nothing valid.
    bool fromWire(const rpc::Value& value, com::Variant& out, rpc::Value& error);
    rpc::Value dispatchToWire(com::IDispatch* object);

    // The records of ScriptBridge::describeRecord, and those of one element besides.
    static std::vector<const com::RecordInfo*>
    describedRecords(const std::vector<const com::RecordInfo*>& besides = {});

    void onGet(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onPut(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onCall(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onHas(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onScriptError(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onWindowCall(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onElementConnected(const std::vector<rpc::Value>& args, rpc::Message& reply);
    void onElementMember(const std::vector<rpc::Value>& args, rpc::Message& reply);
    // Lets go of the element's object and tells the host (UI thread).
    void releaseElement(std::int32_t element);
    void releaseElements();
    // A member's result as script gets it: records as plain objects.
    rpc::Value resultToWire(const com::Variant& result, const com::ParamInfo* description,
                            const std::vector<const com::RecordInfo*>& records);
    // The result a call of member `id` of a native object with DISPATCH_* `flags` gives, as
    // the object's own type information describes it; null when it does not.
    static const com::ParamInfo* describedResult(com::IDispatch* object, com::DISPID id,
                                                 std::uint16_t flags);
    // The arguments of a call into the page. A byte reference followed by its size becomes
    // the shared bytes it names, or a copy of them in `copies` (copied back by the caller).
    struct ByteCopy {
        std::uint8_t* target;
        rpc::SharedBlock block;
    };
    void argumentsToWire(const std::vector<com::Variant>& args, std::vector<rpc::Value>& values,
                         std::vector<ByteCopy>& copies);

    struct Native {
        com::ComPtr<com::IDispatch> object;
        com::ComPtr<com::IUnknown> identity;
        std::uint32_t sent = 0;
        std::unordered_map<std::u16string, com::DISPID> ids; // names looked up so far
    };
    // The object behind a NativeObject value; null when it names nothing.
    com::ComPtr<com::IDispatch> nativeObject(const rpc::Value& value) const;
    // The object's identifier for `name`, asked once and then remembered. The object may
    // re-enter the connection meanwhile.
    com::HRESULT lookUp(std::uint32_t handle, const std::u16string& name, com::DISPID& id);

    Host* host_;
    const std::thread::id thread_;
    std::shared_ptr<rpc::Endpoint> endpoint_;
    std::unique_ptr<rpc::EndpointSource> source_;
    std::shared_ptr<rpc::SharedArea> shared_;
    std::size_t sharedSize_;
    std::atomic<std::uint32_t> generation_{0};
    bool closed_ = false;

    // The object tables: calls from other threads convert values too.
    mutable std::mutex tables_;
    std::unordered_map<std::uint32_t, Native> natives_;
    std::unordered_map<com::IDispatch*, std::uint32_t> nativeIds_; // by interface pointer
    std::uint32_t lastNative_ = 0;
    bool tablesClosed_ = false; // after close(): nothing is handed out any more
    std::unordered_map<std::uint32_t, ScriptObject*> wrappers_; // not owned
    // Copies of bytes whose call ended before the page answered, by request id: script may
    // still write them until its late reply comes or its document goes.
    std::unordered_map<std::uint32_t, std::vector<rpc::SharedBlock>> lingering_;
    // Late replies that came before their caller filed its copies (a short window).
    std::deque<std::uint32_t> answeredLate_;
    static constexpr std::size_t maxAnsweredLate = 64;

    // UI thread only.
    std::unordered_map<std::int32_t, std::unique_ptr<ElementSite>> elements_;
    ElementId lastElement_ = 0;
};

} // namespace norv::web
