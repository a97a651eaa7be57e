#include "platform/web/bridge/PageBridge.h"

#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "platform/com/Bstr.h"
#include "platform/web/bridge/BridgeScript.h"

namespace norv::web::bridge {

using rpc::Kind;
using rpc::Op;
using rpc::Tag;
using rpc::Value;

namespace {

constexpr std::int32_t E_INVALIDARG = static_cast<std::int32_t>(0x80070057);
constexpr std::int32_t E_NOTIMPL = static_cast<std::int32_t>(0x80004001);
constexpr std::int32_t DISP_E_UNKNOWNNAME = static_cast<std::int32_t>(0x80020006);
constexpr std::int32_t DISP_E_EXCEPTION = static_cast<std::int32_t>(0x80020009);
constexpr std::int32_t RPC_E_DISCONNECTED = static_cast<std::int32_t>(0x80010108);
constexpr char16_t disconnectedText[] = u"The object invoked has disconnected from its clients.";

// How long a call polls for its reply before sleeping.
constexpr int spinMicroseconds = 50;

// Entry point operations of the bridge script.
enum ScriptOp { OpGet = 1, OpPut = 2, OpCall = 3, OpHas = 4, OpScriptError = 5 };

std::string stringOf(JSCValue* v) {
    GBytes* bytes = jsc_value_to_string_as_bytes(v);
    if (!bytes)
        return {};
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string s(data ? data : "", size);
    g_bytes_unref(bytes);
    return s;
}

JSCValue* newString(JSCContext* ctx, const std::string& utf8) {
    GBytes* bytes = g_bytes_new(utf8.data(), utf8.size());
    JSCValue* v = jsc_value_new_string_from_bytes(ctx, bytes);
    g_bytes_unref(bytes);
    return v;
}

// The text of a string value in UTF-8, whichever form it came in.
std::string utf8Of(const Value& v) {
    return v.tag == Tag::String16 ? com::utf16ToUtf8(v.text16) : v.text8;
}

struct ClearedData {
    PageBridge* bridge;
    std::uint32_t handle;
};

} // namespace

PageBridge::PageBridge(WebKitWebPage* page) : page_(page) {
    g_signal_connect(page_, "send-request", G_CALLBACK(&PageBridge::onSendRequest), this);
}

PageBridge::~PageBridge() {
    g_signal_handlers_disconnect_by_data(page_, this);
    dropDocument();
    disconnect();
    if (flush_)
        g_source_remove(flush_);
    if (drain_)
        g_source_remove(drain_);
}

void PageBridge::windowObjectCleared(WebKitFrame* frame, WebKitScriptWorld* world) {
    if (!webkit_frame_is_main_frame(frame) || world != webkit_script_world_get_default())
        return;
    dropDocument();
    if (!(channel_ && channel_->isOpen()) && !connect())
        return;
    if (!installScript(frame, world))
        return;
    const char* uri = webkit_frame_get_uri(frame);
    call(Op::DocumentReady, {Value::fromString8(uri ? uri : "")});
}

gboolean PageBridge::onSendRequest(WebKitWebPage*, WebKitURIRequest* request, WebKitURIResponse*,
                                   gpointer self) {
    const std::string& agent = static_cast<PageBridge*>(self)->userAgent_;
    if (agent.empty())
        return FALSE;
    const char* scheme = g_uri_peek_scheme(webkit_uri_request_get_uri(request));
    if (g_strcmp0(scheme, "http") != 0 && g_strcmp0(scheme, "https") != 0)
        return FALSE;
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request))
        soup_message_headers_replace(headers, "User-Agent", agent.c_str());
    return FALSE; // send it
}

bool PageBridge::connect() {
    disconnect();
    broken_ = false;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    GUnixFDList* list = g_unix_fd_list_new();
    const bool appended = g_unix_fd_list_append(list, fds[1], nullptr) >= 0;
    close(fds[1]);
    channel_ = std::make_unique<rpc::Channel>(fds[0]);
    if (!appended) {
        g_object_unref(list);
        channel_->close();
        return false;
    }
    // Without a reply callback WebKit keeps no copy of the descriptor here: when the UI
    // drops the message (no bridge on that view) the socket reads as closed.
    WebKitUserMessage* message = webkit_user_message_new_with_fd_list(
        rpc::connectMessageName, g_variant_new_uint32(rpc::protocolVersion), list);
    g_object_unref(list);
    webkit_web_page_send_message_to_view(page_, message, nullptr, nullptr, nullptr);

    for (;;) {
        rpc::Message hello;
        auto status = channel_->next(hello);
        if (status == rpc::FrameReader::Status::Message) {
            if (hello.kind != Kind::Notice || hello.op != static_cast<std::uint8_t>(Op::Hello)) {
                disconnect();
                return false;
            }
            break;
        }
        if (status == rpc::FrameReader::Status::Malformed || !channel_->isOpen()) {
            disconnect();
            return false;
        }
        channel_->waitReadable(-1);
        channel_->receiveAvailable();
    }
    // What came with the greeting (the user agent) is already read: no watch would see it.
    handleBuffered();
    if (broken_ || !channel_->isOpen()) {
        disconnect();
        return false;
    }
    watch_ = g_unix_fd_add(channel_->fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                           &PageBridge::onReadable, this);
    return true;
}

void PageBridge::disconnect() {
    // Without the UI nobody keeps the text current: WebKit's own header is right again.
    userAgent_.clear();
    if (watch_) {
        g_source_remove(watch_);
        watch_ = 0;
    }
    if (channel_)
        channel_->close();
}

void PageBridge::dropDocument() {
    if (link_)
        link_->bridge = nullptr;
    link_.reset();
    proxies_.clear();
    objects_.clear();
    releases_.clear();
    cleared_.clear();
    dead_.clear();
    make_.reset();
    classify_.reset();
    forget_.reset();
    setPath_.reset();
    get_.reset();
    put_.reset();
    call_.reset();
    has_.reset();
    fail_.reset();
    method_.reset();
    unknown_.reset();
    context_.reset();
}

bool PageBridge::installScript(WebKitFrame* frame, WebKitScriptWorld* world) {
    auto ctx =
        GObjectRef<JSCContext>::adopt(webkit_frame_get_js_context_for_script_world(frame, world));
    if (!ctx)
        return false;
    JSCContext* c = ctx.get();
    link_ = std::make_shared<Link>(Link{this});
    auto native = GObjectRef<JSCValue>::adopt(jsc_value_new_function_variadic(
        c, nullptr, G_CALLBACK(&PageBridge::entry), new std::shared_ptr<Link>(link_),
        [](gpointer p) { delete static_cast<std::shared_ptr<Link>*>(p); }, JSC_TYPE_VALUE));
    fail_ = GObjectRef<JSCValue>::adopt(jsc_value_new_object(c, nullptr, nullptr));
    method_ = GObjectRef<JSCValue>::adopt(jsc_value_new_object(c, nullptr, nullptr));
    unknown_ = GObjectRef<JSCValue>::adopt(jsc_value_new_object(c, nullptr, nullptr));
    auto factory = GObjectRef<JSCValue>::adopt(
        jsc_context_evaluate_with_source_uri(c, bridgeScript, -1, "norv-bridge:///bridge.js", 1));
    if (jsc_context_get_exception(c) || !jsc_value_is_function(factory.get())) {
        g_warning("norv-bridge: the bridge script failed");
        jsc_context_clear_exception(c);
        dropDocument();
        return false;
    }
    auto helpers = GObjectRef<JSCValue>::adopt(jsc_value_function_call(
        factory.get(), JSC_TYPE_VALUE, native.get(), JSC_TYPE_VALUE, fail_.get(), JSC_TYPE_VALUE,
        method_.get(), JSC_TYPE_VALUE, unknown_.get(), G_TYPE_NONE));
    if (jsc_context_get_exception(c) || !jsc_value_is_array(helpers.get())) {
        g_warning("norv-bridge: the bridge script failed");
        jsc_context_clear_exception(c);
        dropDocument();
        return false;
    }
    GObjectRef<JSCValue>* slots[] = {&make_, &classify_, &forget_, &setPath_,
                                     &get_,  &put_,      &call_,   &has_};
    for (unsigned i = 0; i < std::size(slots); ++i)
        *slots[i] =
            GObjectRef<JSCValue>::adopt(jsc_value_object_get_property_at_index(helpers.get(), i));
    context_ = std::move(ctx);
    return true;
}

// ---- RPC -------------------------------------------------------------------------------

void PageBridge::send(rpc::Message message) {
    if (channel_ && channel_->isOpen() && !channel_->send(message))
        disconnect();
}

std::optional<rpc::Message> PageBridge::call(Op op, std::vector<Value> values) {
    if (!channel_ || !channel_->isOpen())
        return std::nullopt;
    flushReleases();
    const std::uint32_t id = nextCallId_++;
    pending_[id] = std::nullopt;
    send({Kind::Request, id, static_cast<std::uint8_t>(op), std::move(values)});
    for (;;) {
        auto it = pending_.find(id);
        if (it != pending_.end() && it->second) {
            rpc::Message reply = std::move(*it->second);
            pending_.erase(it);
            if (channel_->hasBuffered())
                scheduleDrain();
            return reply;
        }
        // While waiting, serve only the socket: the UI's nested calls are handled here.
        if (handleBuffered())
            continue;
        if (!channel_->isOpen() || broken_) {
            pending_.erase(id);
            return std::nullopt;
        }
        if (channel_->spinReceive(spinMicroseconds) != 0)
            continue;
        channel_->waitReadable(-1);
        channel_->receiveAvailable();
    }
}

bool PageBridge::handleBuffered() {
    while (channel_ && !broken_) {
        rpc::Message message;
        auto status = channel_->next(message);
        if (status == rpc::FrameReader::Status::NeedMore)
            return false;
        if (status == rpc::FrameReader::Status::Malformed) {
            broken_ = true;
            disconnect();
            return false;
        }
        const bool isReply = message.kind == Kind::Reply;
        handle(message);
        // Its caller converts the reply's values before anything later on the wire (a
        // release, say) is looked at.
        if (isReply)
            return true;
    }
    return false;
}

void PageBridge::scheduleDrain() {
    if (!drain_)
        drain_ = g_idle_add_full(G_PRIORITY_HIGH, &PageBridge::onDrain, this, nullptr);
}

gboolean PageBridge::onDrain(gpointer self) {
    auto* bridge = static_cast<PageBridge*>(self);
    bridge->drain_ = 0;
    while (bridge->handleBuffered()) {
    }
    return G_SOURCE_REMOVE;
}

void PageBridge::handle(rpc::Message& message) {
    switch (message.kind) {
    case Kind::Reply: {
        auto it = pending_.find(message.id);
        if (it == pending_.end() || it->second) {
            broken_ = true; // a reply nobody asked for: the peer is confused
            disconnect();
            return;
        }
        it->second = std::move(message);
        return;
    }
    case Kind::Request:
        handleRequest(message);
        return;
    case Kind::Notice:
        handleNotice(message);
        return;
    }
}

gboolean PageBridge::onReadable(gint, GIOCondition, gpointer self) {
    auto* bridge = static_cast<PageBridge*>(self);
    bridge->channel_->receiveAvailable();
    while (bridge->handleBuffered()) {
    }
    if (bridge->broken_ || !bridge->channel_->isOpen()) {
        bridge->watch_ = 0;
        bridge->disconnect();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void PageBridge::handleNotice(const rpc::Message& message) {
    if (message.op == static_cast<std::uint8_t>(Op::UserAgent)) {
        // A text that is not a valid header value never reaches a request.
        userAgent_ = rpc::userAgentText(message).value_or(std::string());
        return;
    }
    if (message.op != static_cast<std::uint8_t>(Op::ReleaseScript))
        return;
    const auto& v = message.values;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        if (v[i].tag != Tag::ScriptObject || v[i + 1].tag != Tag::I4)
            continue;
        auto it = objects_.find(v[i].handle);
        if (it == objects_.end())
            continue;
        const auto count = static_cast<std::uint32_t>(v[i + 1].i4);
        it->second.sent -= std::min(count, it->second.sent);
        if (it->second.sent == 0) {
            GObjectRef<JSCValue> value = std::move(it->second.value);
            objects_.erase(it);
            if (forget_)
                g_object_unref(helperCall(forget_.get(), {value.get()}));
        }
    }
}

void PageBridge::handleRequest(rpc::Message& message) {
    rpc::Message reply{Kind::Reply, message.id, message.op, {}};
    auto& args = message.values;
    auto error = [&](std::int32_t hr, std::u16string text = {}) {
        reply.values = {Value::error(hr, std::move(text))};
    };
    const auto op = static_cast<Op>(message.op);
    JSCContext* c = context_.get();
    if (!c) {
        error(RPC_E_DISCONNECTED, disconnectedText);
        send(std::move(reply));
        return;
    }
    // The script object a request names, or null.
    auto object = [&](std::size_t i) -> JSCValue* {
        if (i >= args.size() || args[i].tag != Tag::ScriptObject)
            return nullptr;
        auto it = objects_.find(args[i].handle);
        return it == objects_.end() ? nullptr : it->second.value.get();
    };
    auto isString = [&](std::size_t i) {
        return i < args.size() && args[i].isString();
    };
    // Runs a helper and turns its result (value or FAIL) into the reply.
    auto answer = [&](JSCValue* fn, std::vector<JSCValue*> in) {
        JSCValue* r = helperCall(fn, std::move(in));
        Value failure;
        if (takeScriptFailure(r, failure))
            reply.values = {std::move(failure)};
        else
            reply.values = {toWire(r)};
        g_object_unref(r);
    };

    switch (op) {
    case Op::RunScript: {
        if (!isString(0)) {
            error(E_INVALIDARG);
            break;
        }
        const std::string code = utf8Of(args[0]);
        JSCValue* r = jsc_context_evaluate(c, code.data(), static_cast<gssize>(code.size()));
        if (jsc_context_get_exception(c))
            reply.values = {exceptionToError()};
        else
            reply.values = {toWire(r)};
        g_object_unref(r);
        break;
    }
    case Op::SetPath: {
        if (!isString(0) || args.size() != 2) {
            error(E_INVALIDARG);
            break;
        }
        JSCValue* path = newString(c, utf8Of(args[0]));
        JSCValue* value = fromWire(args[1]);
        JSCValue* r = helperCall(setPath_.get(), {path, value});
        g_object_unref(path);
        g_object_unref(value);
        const std::int32_t hr = jsc_value_is_number(r) ? jsc_value_to_int32(r) : E_INVALIDARG;
        g_object_unref(r);
        if (hr == DISP_E_EXCEPTION) {
            auto d = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(fail_.get(), "d"));
            error(hr, com::utf8ToUtf16(stringOf(d.get())));
        } else if (hr != 0) {
            error(hr);
        }
        break;
    }
    case Op::ScriptGet:
    case Op::ScriptHas: {
        JSCValue* obj = object(0);
        if (!obj || !isString(1)) {
            error(obj ? E_INVALIDARG : RPC_E_DISCONNECTED, obj ? u"" : disconnectedText);
            break;
        }
        JSCValue* name = newString(c, utf8Of(args[1]));
        answer(op == Op::ScriptGet ? get_.get() : has_.get(), {obj, name});
        g_object_unref(name);
        break;
    }
    case Op::ScriptPut: {
        JSCValue* obj = object(0);
        if (!obj || !isString(1) || args.size() != 3) {
            error(obj ? E_INVALIDARG : RPC_E_DISCONNECTED, obj ? u"" : disconnectedText);
            break;
        }
        JSCValue* name = newString(c, utf8Of(args[1]));
        JSCValue* value = fromWire(args[2]);
        answer(put_.get(), {obj, name, value});
        g_object_unref(name);
        g_object_unref(value);
        break;
    }
    case Op::ScriptCall: {
        JSCValue* obj = object(0);
        if (!obj || !isString(1) || args.size() < 3 || args[2].tag != Tag::Bool) {
            error(obj ? E_INVALIDARG : RPC_E_DISCONNECTED, obj ? u"" : disconnectedText);
            break;
        }
        std::vector<JSCValue*> in{obj, newString(c, utf8Of(args[1])),
                                  jsc_value_new_boolean(c, args[2].boolean)};
        for (std::size_t i = 3; i < args.size(); ++i)
            in.push_back(fromWire(args[i]));
        answer(call_.get(), in);
        for (std::size_t i = 1; i < in.size(); ++i)
            g_object_unref(in[i]);
        break;
    }
    default:
        error(E_NOTIMPL);
        break;
    }
    send(std::move(reply));
}

void PageBridge::flushReleases() {
    for (auto [handle, weak] : cleared_) {
        auto it = proxies_.find(handle);
        if (it != proxies_.end() && it->second.weak.get() == weak) {
            releases_.emplace_back(handle, it->second.received);
            dead_.push_back(std::move(it->second.weak));
            proxies_.erase(it);
        }
    }
    cleared_.clear();
    dead_.clear();
    if (releases_.empty() || !channel_ || !channel_->isOpen())
        return;
    std::vector<Value> values;
    values.reserve(releases_.size() * 2);
    for (auto [handle, count] : releases_) {
        values.push_back(Value::nativeObject(handle));
        values.push_back(Value::fromI4(static_cast<std::int32_t>(count)));
    }
    releases_.clear();
    send({Kind::Notice, 0, static_cast<std::uint8_t>(Op::ReleaseNative), std::move(values)});
}

gboolean PageBridge::onFlush(gpointer self) {
    auto* bridge = static_cast<PageBridge*>(self);
    bridge->flush_ = 0;
    bridge->flushReleases();
    return G_SOURCE_REMOVE;
}

void PageBridge::proxyCleared(std::uint32_t handle, JSCWeakValue* weak) {
    // Called by the garbage collector: only note it; the tables change at a safe point.
    cleared_.emplace_back(handle, weak);
    if (!flush_)
        flush_ = g_idle_add(&PageBridge::onFlush, this);
}

// ---- Script side -----------------------------------------------------------------------

JSCValue* PageBridge::entry(GPtrArray* args, gpointer link) {
    auto& l = *static_cast<std::shared_ptr<Link>*>(link);
    if (!l->bridge)
        return jsc_value_new_undefined(jsc_context_get_current());
    return l->bridge->enter(args);
}

JSCValue* PageBridge::enter(GPtrArray* args) {
    JSCContext* c = context_.get();
    auto arg = [&](guint i) {
        return static_cast<JSCValue*>(g_ptr_array_index(args, i));
    };
    if (args->len < 3)
        return fail(E_INVALIDARG, u"");
    const int op = jsc_value_to_int32(arg(0));
    const double h = jsc_value_to_double(arg(1));
    const auto handle = static_cast<std::uint32_t>(h >= 0 && h <= 4294967295.0 ? h : 0);
    std::vector<Value> values;
    switch (op) {
    case OpGet: {
        auto reply =
            call(Op::Get, {Value::nativeObject(handle), Value::fromString8(stringOf(arg(2)))});
        if (reply && reply->values.empty())
            return static_cast<JSCValue*>(g_object_ref(method_.get()));
        if (reply && reply->values[0].tag == Tag::Error &&
            reply->values[0].i4 == DISP_E_UNKNOWNNAME)
            return static_cast<JSCValue*>(g_object_ref(unknown_.get()));
        return replyValue(reply);
    }
    case OpPut: {
        values = {Value::nativeObject(handle), Value::fromString8(stringOf(arg(2))),
                  args->len > 3 ? toWire(arg(3)) : Value::empty()};
        auto reply = call(Op::Put, std::move(values));
        if (reply && !reply->values.empty() && reply->values[0].tag == Tag::Error)
            return failFromReply(reply->values[0]);
        if (!reply)
            return fail(RPC_E_DISCONNECTED, disconnectedText);
        return jsc_value_new_undefined(c);
    }
    case OpCall:
        values = {Value::nativeObject(handle), Value::fromString8(stringOf(arg(2)))};
        for (guint i = 3; i < args->len; ++i)
            values.push_back(toWire(arg(i)));
        return replyValue(call(Op::Call, std::move(values)));
    case OpHas:
        return replyValue(
            call(Op::Has, {Value::nativeObject(handle), Value::fromString8(stringOf(arg(2)))}));
    case OpScriptError:
        if (args->len >= 8) {
            values = {Value::fromString8(stringOf(arg(3))), Value::fromString8(stringOf(arg(4))),
                      Value::fromI4(jsc_value_to_int32(arg(5))),
                      Value::fromI4(jsc_value_to_int32(arg(6))),
                      Value::fromI4(jsc_value_to_int32(arg(7)))};
            call(Op::ScriptError, std::move(values));
        }
        return jsc_value_new_undefined(c);
    default:
        return fail(E_INVALIDARG, u"");
    }
}

JSCValue* PageBridge::replyValue(const std::optional<rpc::Message>& reply) {
    if (!reply)
        return fail(RPC_E_DISCONNECTED, disconnectedText);
    if (reply->values.empty())
        return jsc_value_new_undefined(context_.get());
    if (reply->values[0].tag == Tag::Error)
        return failFromReply(reply->values[0]);
    return fromWire(reply->values[0]);
}

JSCValue* PageBridge::failFromReply(const Value& error) {
    return fail(error.i4, error.text16);
}

JSCValue* PageBridge::fail(std::int32_t hr, const std::u16string& description) {
    JSCContext* c = context_.get();
    if (!c)
        return jsc_value_new_undefined(jsc_context_get_current());
    JSCValue* n = jsc_value_new_number(c, hr);
    JSCValue* d = newString(c, com::utf16ToUtf8(description));
    jsc_value_object_set_property(fail_.get(), "n", n);
    jsc_value_object_set_property(fail_.get(), "d", d);
    g_object_unref(n);
    g_object_unref(d);
    return static_cast<JSCValue*>(g_object_ref(fail_.get()));
}

Value PageBridge::toWire(JSCValue* v) {
    if (jsc_value_is_undefined(v))
        return Value::empty();
    if (jsc_value_is_null(v))
        return Value::null();
    if (jsc_value_is_boolean(v))
        return Value::fromBool(jsc_value_to_boolean(v));
    if (jsc_value_is_number(v)) {
        const double d = jsc_value_to_double(v);
        if (d >= std::numeric_limits<std::int32_t>::min() &&
            d <= std::numeric_limits<std::int32_t>::max() && std::trunc(d) == d &&
            !(d == 0 && std::signbit(d)))
            return Value::fromI4(static_cast<std::int32_t>(d));
        return Value::fromR8(d);
    }
    if (jsc_value_is_string(v))
        return Value::fromString8(stringOf(v));
    if (jsc_value_is_object(v) && classify_) {
        JSCValue* r = helperCall(classify_.get(), {v});
        const double x = jsc_value_is_number(r) ? jsc_value_to_double(r) : 0;
        g_object_unref(r);
        if (x > 0)
            return Value::nativeObject(static_cast<std::uint32_t>(x));
        if (x < 0) {
            const auto id = static_cast<std::uint32_t>(-x);
            ScriptObject& o = objects_[id];
            if (!o.value)
                o.value = GObjectRef<JSCValue>::retain(v);
            ++o.sent;
            return Value::scriptObject(id);
        }
    }
    return Value::empty();
}

JSCValue* PageBridge::fromWire(const Value& v) {
    JSCContext* c = context_.get();
    switch (v.tag) {
    case Tag::Null:
        return jsc_value_new_null(c);
    case Tag::Bool:
        return jsc_value_new_boolean(c, v.boolean);
    case Tag::I4:
        return jsc_value_new_number(c, v.i4);
    case Tag::R8:
        return jsc_value_new_number(c, v.r8);
    case Tag::String16:
        return newString(c, com::utf16ToUtf8(v.text16));
    case Tag::String8:
        return newString(c, v.text8);
    case Tag::NativeObject:
        return proxyFor(v.handle);
    case Tag::ScriptObject: {
        auto it = objects_.find(v.handle);
        if (it != objects_.end())
            return static_cast<JSCValue*>(g_object_ref(it->second.value.get()));
        return jsc_value_new_undefined(c);
    }
    case Tag::Empty:
    case Tag::Error:
        break;
    }
    return jsc_value_new_undefined(c);
}

JSCValue* PageBridge::proxyFor(std::uint32_t handle) {
    JSCContext* c = context_.get();
    {
        auto it = proxies_.find(handle);
        if (it != proxies_.end()) {
            if (JSCValue* alive = jsc_weak_value_get_value(it->second.weak.get())) {
                ++it->second.received;
                return alive;
            }
        }
    }
    JSCValue* h = jsc_value_new_number(c, handle);
    JSCValue* proxy = helperCall(make_.get(), {h});
    g_object_unref(h);
    if (!jsc_value_is_object(proxy))
        return proxy;
    Proxy& p = proxies_[handle];
    if (p.weak)
        dead_.push_back(std::move(p.weak)); // its clearing, if pending, must not match
    p.weak = GObjectRef<JSCWeakValue>::adopt(jsc_weak_value_new(proxy));
    g_signal_connect_data(
        p.weak.get(), "cleared", G_CALLBACK(+[](JSCWeakValue* weak, gpointer data) {
            auto* d = static_cast<ClearedData*>(data);
            d->bridge->proxyCleared(d->handle, weak);
        }),
        new ClearedData{this, handle},
        [](gpointer data, GClosure*) { delete static_cast<ClearedData*>(data); }, GConnectFlags(0));
    ++p.received;
    return proxy;
}

JSCValue* PageBridge::helperCall(JSCValue* fn, std::vector<JSCValue*> args) {
    JSCValue* r = jsc_value_function_callv(fn, static_cast<guint>(args.size()), args.data());
    if (JSCContext* c = context_.get(); c && jsc_context_get_exception(c))
        jsc_context_clear_exception(c);
    return r;
}

bool PageBridge::takeScriptFailure(JSCValue* result, Value& error) {
    if (result != fail_.get())
        return false;
    auto n = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(fail_.get(), "n"));
    auto d = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(fail_.get(), "d"));
    error = Value::error(jsc_value_to_int32(n.get()), com::utf8ToUtf16(stringOf(d.get())));
    return true;
}

Value PageBridge::exceptionToError() {
    JSCContext* c = context_.get();
    JSCException* e = jsc_context_get_exception(c);
    const char* message = e ? jsc_exception_get_message(e) : nullptr;
    Value error = Value::error(DISP_E_EXCEPTION, com::utf8ToUtf16(message ? message : ""));
    jsc_context_clear_exception(c);
    return error;
}

} // namespace norv::web::bridge
