#include "platform/web/BridgeConnection.h"

#include <glib-unix.h>

#include <limits>

#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"
#include "platform/web/ScriptObject.h"

namespace norv::web {

using com::Bstr;
using com::ComPtr;
using com::DISPID;
using com::HRESULT;
using com::Variant;
using rpc::Kind;
using rpc::Op;
using rpc::Tag;
using rpc::Value;

namespace {

// How long the UI polls for the page's next call, and serves calls in one go at most.
constexpr int spinMicroseconds = 30;
constexpr gint64 serveMicroseconds = 2000;

constexpr char16_t disconnectedText[] = u"The object invoked has disconnected from its clients.";

Value errorValue(HRESULT hr, std::u16string text = {}) {
    return Value::error(hr, std::move(text));
}

// The text a failed native call leaves for script.
std::u16string failureText(HRESULT hr) {
    std::optional<com::ErrorInfo> info = com::takeErrorInfo();
    if (info && !info->description.isEmpty())
        return info->description.str();
    return com::messageForHResult(hr);
}

// The error a failed Invoke gives script: the exception information of DISP_E_EXCEPTION
// when the callee filled it, otherwise the code with the error information's text.
Value invokeFailure(HRESULT hr, const com::ExcepInfo& excep) {
    if (hr == com::DISP_E_EXCEPTION && (excep.scode != 0 || !excep.description.isEmpty())) {
        com::clearErrorInfo();
        return errorValue(com::failed(excep.scode) ? excep.scode : com::E_FAIL,
                          excep.description.str());
    }
    return errorValue(hr, failureText(hr));
}

std::u16string textOf(const Value& v) {
    return v.tag == Tag::String16 ? v.text16 : Bstr::fromUtf8(v.text8).str();
}

} // namespace

BridgeConnection::BridgeConnection(int fd, Host* host)
    : channel_(fd), host_(host), thread_(std::this_thread::get_id()) {}

BridgeConnection::~BridgeConnection() {
    close();
}

void BridgeConnection::start() {
    send({Kind::Notice, 0, static_cast<std::uint8_t>(Op::Hello), {}});
    source_ = g_unix_fd_source_new(channel_.fd(),
                                   static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    // The page's calls must be served while a call of ours waits inside this source's
    // own dispatch.
    g_source_set_can_recurse(source_, TRUE);
    g_source_set_priority(source_, G_PRIORITY_HIGH);
    g_source_set_callback(source_, G_SOURCE_FUNC(&BridgeConnection::onReadable), this, nullptr);
    g_source_attach(source_, g_main_context_default());
}

void BridgeConnection::close() {
    if (drain_) {
        g_source_remove(drain_);
        drain_ = 0;
    }
    if (flush_) {
        g_source_remove(flush_);
        flush_ = 0;
    }
    releases_.clear();
    if (source_) {
        g_source_destroy(source_);
        g_source_unref(source_);
        source_ = nullptr;
    }
    channel_.close();
    releaseAll();
}

void BridgeConnection::releaseAll() {
    // Let the objects go only after the tables are consistent: their destructors may
    // call back into anything.
    auto natives = std::move(natives_);
    natives_.clear();
    nativeIds_.clear();
    wrappers_.clear();
    natives.clear();
}

gboolean BridgeConnection::onReadable(gint, GIOCondition, gpointer self) {
    auto* connection = static_cast<BridgeConnection*>(self);
    auto keep = connection->shared_from_this();
    connection->channel_.receiveAvailable();
    // A page calling in a loop sends its next call within microseconds of our reply:
    // poll a little for it instead of going back to sleep, for at most a few
    // milliseconds so that the main loop still runs. A filed reply ends it at once.
    const gint64 until = g_get_monotonic_time() + serveMicroseconds;
    bool replied = connection->handleBuffered();
    while (!replied && !connection->broken_ && connection->channel_.isOpen() &&
           g_get_monotonic_time() < until && connection->channel_.spinReceive(spinMicroseconds) > 0)
        replied = connection->handleBuffered();
    if (!connection->channel_.isOpen()) {
        connection->close();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void BridgeConnection::send(const rpc::Message& message) {
    if (channel_.isOpen() && !channel_.send(message))
        channel_.close();
    flushReleases();
}

bool BridgeConnection::handleBuffered() {
    while (!broken_) {
        rpc::Message message;
        auto status = channel_.next(message);
        if (status == rpc::FrameReader::Status::NeedMore)
            return false;
        if (status == rpc::FrameReader::Status::Malformed) {
            g_warning("norv-bridge: malformed message from the web process; disconnecting");
            broken_ = true;
            close();
            return false;
        }
        switch (message.kind) {
        case Kind::Reply: {
            auto it = pending_.find(message.id);
            if (it == pending_.end() || it->second) {
                g_warning("norv-bridge: unexpected reply from the web process; disconnecting");
                broken_ = true;
                close();
                return false;
            }
            it->second = std::move(message);
            // Its caller converts the reply's values before anything later on the wire
            // (a release, say) is looked at; the rest waits for a drain.
            if (channel_.hasBuffered())
                scheduleDrain();
            return true;
        }
        case Kind::Request:
            handleRequest(message);
            break;
        case Kind::Notice:
            handleNotice(message);
            break;
        }
    }
    return false;
}

void BridgeConnection::scheduleDrain() {
    if (drain_ || broken_)
        return;
    drain_ = g_idle_add_full(
        G_PRIORITY_HIGH,
        [](gpointer self) -> gboolean {
            auto* c = static_cast<BridgeConnection*>(self);
            auto keep = c->shared_from_this();
            c->drain_ = 0;
            c->handleBuffered();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

std::optional<rpc::Message> BridgeConnection::call(Op op, std::vector<Value> values) {
    if (!channel_.isOpen())
        return std::nullopt;
    auto keep = shared_from_this();
    const std::uint32_t id = nextCallId_++;
    pending_[id] = std::nullopt;
    send({Kind::Request, id, static_cast<std::uint8_t>(op), std::move(values)});
    for (;;) {
        auto it = pending_.find(id);
        if (it != pending_.end() && it->second) {
            rpc::Message reply = std::move(*it->second);
            pending_.erase(it);
            return reply;
        }
        if (handleBuffered())
            continue;
        if (!channel_.isOpen() || broken_) {
            pending_.erase(id);
            return std::nullopt;
        }
        // Keep GTK and WebKit alive while the page works; our watch recurses.
        g_main_context_iteration(g_main_context_default(), TRUE);
    }
}

// ---- Calls into the page ---------------------------------------------------------------

HRESULT BridgeConnection::failureOf(const rpc::Message& reply, Variant* result,
                                    com::ExcepInfo* excepInfo) {
    const Value& v = reply.values.empty() ? Value() : reply.values[0];
    if (v.tag != Tag::Error) {
        if (result) {
            Value error;
            if (!fromWire(v, *result, error))
                result->clear();
        } else if (v.tag == Tag::ScriptObject) {
            Variant discard; // still counts the hand-out, then releases it
            Value error;
            fromWire(v, discard, error);
        }
        return com::S_OK;
    }
    if (v.i4 >= 0)
        return com::E_FAIL;
    // Failures of the bridge itself, not exceptions of the script.
    if (v.text16.empty() || v.i4 == RPC_E_DISCONNECTED)
        return v.i4;
    if (excepInfo) {
        excepInfo->code = 0;
        excepInfo->scode = v.i4;
        excepInfo->description = Bstr(v.text16);
        excepInfo->source = Bstr(u"JavaScript");
    }
    com::setErrorInfo(com::ErrorInfo{Bstr(v.text16), com::IID_NULL, Bstr(u"JavaScript")});
    return com::DISP_E_EXCEPTION;
}

HRESULT BridgeConnection::runScript(std::u16string_view code, Variant* result) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    if (!hasDocument())
        return com::E_ACCESSDENIED;
    auto reply = call(Op::RunScript, {Value::fromString16(std::u16string(code))});
    if (!reply)
        return com::E_ACCESSDENIED;
    return failureOf(*reply, result, nullptr);
}

HRESULT BridgeConnection::setPath(std::u16string_view path, const Variant& value) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    if (!hasDocument())
        return com::E_ACCESSDENIED;
    auto reply = call(Op::SetPath, {Value::fromString16(std::u16string(path)), toWire(value)});
    if (!reply)
        return com::E_ACCESSDENIED;
    if (!reply->values.empty() && reply->values[0].tag == Tag::Error) {
        const Value& e = reply->values[0];
        if (!e.text16.empty())
            com::setErrorInfo(com::ErrorInfo{Bstr(e.text16), com::IID_NULL, Bstr()});
        return e.i4 < 0 ? e.i4 : com::E_FAIL;
    }
    return com::S_OK;
}

HRESULT BridgeConnection::scriptAction(std::uint32_t id, std::uint32_t generation,
                                       ScriptAction action, const std::u16string& name, bool getToo,
                                       std::vector<Variant> args, Variant* result,
                                       com::ExcepInfo* excepInfo) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    if (!isCurrent(generation))
        return RPC_E_DISCONNECTED;
    std::vector<Value> values{Value::scriptObject(id), Value::fromString16(name)};
    Op op = Op::ScriptGet;
    switch (action) {
    case ScriptAction::Get:
        break;
    case ScriptAction::Has:
        op = Op::ScriptHas;
        break;
    case ScriptAction::Put:
        op = Op::ScriptPut;
        values.push_back(args.empty() ? Value() : toWire(args[0]));
        break;
    case ScriptAction::Call:
        op = Op::ScriptCall;
        values.push_back(Value::fromBool(getToo));
        for (const Variant& a : args)
            values.push_back(toWire(a));
        break;
    }
    auto reply = call(op, std::move(values));
    if (!reply)
        return RPC_E_DISCONNECTED;
    return failureOf(*reply, result, excepInfo);
}

HRESULT BridgeConnection::sendUserAgent(std::string_view text) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    const bool valid = rpc::isHeaderValue(text);
    send(rpc::userAgentNotice(valid ? std::string(text) : std::string()));
    return valid ? com::S_OK : com::E_INVALIDARG;
}

void BridgeConnection::wrapperGone(ScriptObject* wrapper, std::uint32_t id,
                                   std::uint32_t generation, std::uint32_t count) {
    auto it = wrappers_.find(id);
    if (it != wrappers_.end() && it->second == wrapper)
        wrappers_.erase(it);
    if (!isCurrent(generation) || count == 0)
        return;
    // Sent only after the message being built (a reply may still name this object):
    // a release overtaking it would let the page forget the object too early.
    releases_.push_back(Value::scriptObject(id));
    releases_.push_back(Value::fromI4(static_cast<std::int32_t>(count)));
    if (!flush_) {
        flush_ = g_idle_add(
            [](gpointer self) -> gboolean {
                auto* c = static_cast<BridgeConnection*>(self);
                c->flush_ = 0;
                c->flushReleases();
                return G_SOURCE_REMOVE;
            },
            this);
    }
}

void BridgeConnection::flushReleases() {
    if (releases_.empty())
        return;
    std::vector<Value> values = std::move(releases_);
    releases_.clear();
    if (channel_.isOpen() &&
        !channel_.send(
            {Kind::Notice, 0, static_cast<std::uint8_t>(Op::ReleaseScript), std::move(values)}))
        channel_.close();
}

// ---- Calls from the page ---------------------------------------------------------------

void BridgeConnection::handleNotice(const rpc::Message& message) {
    if (message.op != static_cast<std::uint8_t>(Op::ReleaseNative))
        return;
    const auto& v = message.values;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (v[i].tag != Tag::NativeObject || v[i + 1].tag != Tag::I4)
            continue;
        auto it = natives_.find(v[i].handle);
        if (it == natives_.end())
            continue; // an earlier document's, or already gone
        const auto count = static_cast<std::uint32_t>(v[i + 1].i4);
        it->second.sent -= std::min(count, it->second.sent);
        if (it->second.sent == 0) {
            Native gone = std::move(it->second);
            nativeIds_.erase(gone.identity.get());
            natives_.erase(it);
            // `gone` releases the object here, after the tables are consistent.
        }
    }
}

void BridgeConnection::handleRequest(rpc::Message& message) {
    auto keep = shared_from_this();
    rpc::Message reply{Kind::Reply, message.id, message.op, {}};
    const auto& args = message.values;
    switch (static_cast<Op>(message.op)) {
    case Op::DocumentReady:
        if (args.size() == 1 && args[0].isString()) {
            // Answer only after the document is set up: the page waits meanwhile.
            newDocument(Bstr(textOf(args[0])));
        } else {
            reply.values = {errorValue(com::E_INVALIDARG)};
        }
        break;
    case Op::Get:
        onGet(args, reply);
        break;
    case Op::Put:
        onPut(args, reply);
        break;
    case Op::Call:
        onCall(args, reply);
        break;
    case Op::Has:
        onHas(args, reply);
        break;
    case Op::ScriptError:
        onScriptError(args, reply);
        break;
    default:
        reply.values = {errorValue(com::E_NOTIMPL)};
        break;
    }
    send(reply);
}

void BridgeConnection::newDocument(const Bstr& url) {
    ++generation_;
    releaseAll();
    if (host_)
        host_->documentReady(url);
}

BridgeConnection::Native* BridgeConnection::native(const Value& value) {
    if (value.tag != Tag::NativeObject)
        return nullptr;
    auto it = natives_.find(value.handle);
    return it == natives_.end() ? nullptr : &it->second;
}

HRESULT BridgeConnection::lookUp(std::uint32_t handle, const std::u16string& name, DISPID& id) {
    auto it = natives_.find(handle);
    if (it == natives_.end())
        return RPC_E_DISCONNECTED;
    if (auto known = it->second.ids.find(name); known != it->second.ids.end()) {
        id = known->second;
        return com::S_OK;
    }
    ComPtr<com::IDispatch> object = it->second.object;
    const Bstr names[1] = {Bstr(name)};
    DISPID ids[1] = {com::DISPID_UNKNOWN};
    HRESULT hr = object->GetIDsOfNames(com::IID_NULL, names, com::LOCALE_USER_DEFAULT, ids);
    if (com::failed(hr))
        return hr;
    id = ids[0];
    // The object may have run the main loop, where the page could release it: look the
    // entry up again rather than trusting the one found before.
    if (it = natives_.find(handle); it != natives_.end() && it->second.object == object)
        it->second.ids.emplace(name, id);
    return com::S_OK;
}

namespace {
// Checks the (handle, name, ...) head every member request starts with.
bool memberHead(const std::vector<Value>& args, std::size_t minimum) {
    return args.size() >= minimum && args[0].tag == Tag::NativeObject && args[1].isString();
}
} // namespace

void BridgeConnection::onGet(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 2) || args.size() != 2) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    Native* n = native(args[0]);
    if (!n) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    ComPtr<com::IDispatch> object = n->object; // the table may change during the call
    DISPID id = 0;
    HRESULT hr = lookUp(args[0].handle, textOf(args[1]), id);
    if (hr == com::DISP_E_UNKNOWNNAME) {
        com::clearErrorInfo();
        reply.values = {errorValue(hr)}; // the proxy falls back to its own properties
        return;
    }
    if (com::failed(hr)) {
        reply.values = {errorValue(hr, failureText(hr))};
        return;
    }
    com::clearErrorInfo();
    Variant result;
    com::ExcepInfo excep;
    std::uint32_t argErr = 0;
    com::DispParams params{};
    hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, com::DISPATCH_PROPERTYGET,
                        params, &result, &excep, &argErr);
    if (hr == com::DISP_E_MEMBERNOTFOUND || hr == com::DISP_E_BADPARAMCOUNT ||
        hr == com::DISP_E_PARAMNOTOPTIONAL) {
        com::clearErrorInfo();
        return; // a method: no value
    }
    if (com::failed(hr)) {
        reply.values = {invokeFailure(hr, excep)};
        return;
    }
    reply.values = {toWire(result)};
}

void BridgeConnection::onPut(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 3) || args.size() != 3) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    Native* n = native(args[0]);
    Variant value;
    Value error = errorValue(RPC_E_DISCONNECTED, disconnectedText);
    if (!n || !fromWire(args[2], value, error)) {
        reply.values = {error};
        return;
    }
    ComPtr<com::IDispatch> object = n->object;
    DISPID id = 0;
    HRESULT hr = lookUp(args[0].handle, textOf(args[1]), id);
    if (com::failed(hr)) {
        reply.values = {errorValue(hr, failureText(hr))};
        return;
    }
    static const DISPID putName[1] = {com::DISPID_PROPERTYPUT};
    const bool isObject = value.vt() == com::VT_DISPATCH || value.vt() == com::VT_UNKNOWN;
    com::ExcepInfo excep;
    std::uint32_t argErr = 0;
    com::clearErrorInfo();
    Variant slot[1] = {value};
    com::DispParams params{slot, putName};
    hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT,
                        isObject ? com::DISPATCH_PROPERTYPUTREF : com::DISPATCH_PROPERTYPUT, params,
                        nullptr, &excep, &argErr);
    if (isObject && hr == com::DISP_E_MEMBERNOTFOUND) {
        slot[0] = value;
        hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, com::DISPATCH_PROPERTYPUT,
                            params, nullptr, &excep, &argErr);
    }
    if (com::failed(hr))
        reply.values = {invokeFailure(hr, excep)};
}

void BridgeConnection::onCall(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 2)) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    Native* n = native(args[0]);
    if (!n) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    ComPtr<com::IDispatch> object = n->object;
    const std::u16string name = textOf(args[1]);
    DISPID id = com::DISPID_VALUE;
    HRESULT hr = name.empty() ? com::S_OK : lookUp(args[0].handle, name, id);
    if (com::failed(hr)) {
        reply.values = {errorValue(hr, failureText(hr))};
        return;
    }
    // COM order: the last argument first.
    std::vector<Variant> callArgs(args.size() - 2);
    for (std::size_t i = 2; i < args.size(); ++i) {
        Value error;
        if (!fromWire(args[i], callArgs[args.size() - 1 - i], error)) {
            reply.values = {error};
            return;
        }
    }
    Variant result;
    com::ExcepInfo excep;
    std::uint32_t argErr = 0;
    com::clearErrorInfo();
    com::DispParams params{callArgs, {}};
    hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT,
                        com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET, params, &result, &excep,
                        &argErr);
    if (com::failed(hr))
        reply.values = {invokeFailure(hr, excep)};
    else {
        reply.values = {toWire(result)};
    }
}

void BridgeConnection::onHas(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 2) || args.size() != 2) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    Native* n = native(args[0]);
    if (!n) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    DISPID id = 0;
    const bool found = com::succeeded(lookUp(args[0].handle, textOf(args[1]), id));
    com::clearErrorInfo();
    reply.values = {Value::fromBool(found)};
}

void BridgeConnection::onScriptError(const std::vector<Value>& args, rpc::Message& reply) {
    if (args.size() != 5 || !args[0].isString() || !args[1].isString() || args[2].tag != Tag::I4 ||
        args[3].tag != Tag::I4 || args[4].tag != Tag::I4) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    ScriptError error{Bstr(textOf(args[0])), Bstr(textOf(args[1])), args[2].i4, args[3].i4,
                      args[4].i4};
    const bool keep = host_ ? host_->scriptError(error) : true;
    reply.values = {Value::fromBool(keep)};
}

// ---- Values ----------------------------------------------------------------------------

Value BridgeConnection::dispatchToWire(com::IDispatch* object) {
    if (!object)
        return Value::null();
    // One of our own wrappers of this document goes back as the script object it is.
    ComPtr<ScriptObject> wrapper;
    if (com::succeeded(object->QueryInterface(ScriptObject::privateIid, wrapper.putVoid())) &&
        wrapper && wrapper->connection().lock().get() == this && isCurrent(wrapper->generation()))
        return Value::scriptObject(wrapper->id());

    ComPtr<com::IUnknown> identity;
    if (com::failed(object->QueryInterface(com::IUnknown::iid, identity.putVoid())) || !identity)
        return Value::null();
    std::uint32_t handle = 0;
    if (auto it = nativeIds_.find(identity.get()); it != nativeIds_.end()) {
        handle = it->second;
    } else {
        handle = ++lastNative_;
        nativeIds_.emplace(identity.get(), handle);
        natives_.emplace(handle, Native{ComPtr<com::IDispatch>(object), identity, 0, {}});
    }
    ++natives_[handle].sent;
    return Value::nativeObject(handle);
}

Value BridgeConnection::toWire(const Variant& v) {
    switch (v.vt()) {
    case com::VT_EMPTY:
    case com::VT_ERROR: // a missing argument
        return Value::empty();
    case com::VT_NULL:
        return Value::null();
    case com::VT_BOOL:
        return Value::fromBool(v.boolVal() != 0);
    case com::VT_I2:
    case com::VT_I4:
    case com::VT_UI1:
        return Value::fromI4(v.i4());
    case com::VT_UI4:
        if (v.ui4() <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            return Value::fromI4(static_cast<std::int32_t>(v.ui4()));
        return Value::fromR8(v.ui4());
    case com::VT_R4:
    case com::VT_R8:
    case com::VT_DATE:
        return Value::fromR8(v.r8());
    case com::VT_BSTR:
        // An absent string reads as null in script.
        return v.bstr().isNull() ? Value::null() : Value::fromString16(v.bstr().str());
    case com::VT_DISPATCH:
        return dispatchToWire(v.dispatch());
    case com::VT_UNKNOWN: {
        if (!v.unknown())
            return Value::null();
        ComPtr<com::IDispatch> d;
        if (com::failed(v.unknown()->QueryInterface(com::IDispatch::iid, d.putVoid())))
            return Value::null();
        return dispatchToWire(d.get());
    }
    default:
        return Value::empty();
    }
}

bool BridgeConnection::fromWire(const Value& v, Variant& out, Value& error) {
    switch (v.tag) {
    case Tag::Empty:
        out = Variant();
        return true;
    case Tag::Null:
        out = Variant::null();
        return true;
    case Tag::Bool:
        out = Variant::fromBool(v.boolean);
        return true;
    case Tag::I4:
        out = Variant::fromI4(v.i4);
        return true;
    case Tag::R8:
        out = Variant::fromR8(v.r8);
        return true;
    case Tag::String16:
        out = Variant::fromBstr(Bstr(v.text16));
        return true;
    case Tag::String8:
        out = Variant::fromBstr(Bstr::fromUtf8(v.text8));
        return true;
    case Tag::NativeObject: {
        auto it = natives_.find(v.handle);
        if (it == natives_.end()) {
            error = errorValue(RPC_E_DISCONNECTED, disconnectedText);
            return false;
        }
        out = Variant::fromDispatch(it->second.object.get());
        return true;
    }
    case Tag::ScriptObject: {
        ComPtr<ScriptObject> wrapper;
        if (auto it = wrappers_.find(v.handle); it != wrappers_.end()) {
            wrapper = it->second;
        } else {
            wrapper = com::makeObject<ScriptObject>(weak_from_this(), v.handle, generation_);
            wrappers_.emplace(v.handle, wrapper.get());
        }
        wrapper->received();
        out = Variant::fromDispatch(wrapper.get());
        return true;
    }
    case Tag::Error:
        break;
    }
    error = errorValue(com::E_INVALIDARG);
    return false;
}

} // namespace norv::web
