#include "platform/web/bridge/PageBridge.h"

#include <gio/gunixfdlist.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/com/Bstr.h"
#include "platform/web/bridge/BridgeScript.h"
#include "platform/web/bridge/FrameDocument.h"

namespace norv::web::bridge {

using rpc::Kind;
using rpc::Op;
using rpc::Tag;
using rpc::Value;
using Outcome = rpc::Endpoint::Outcome;

namespace {

constexpr std::int32_t E_INVALIDARG = static_cast<std::int32_t>(0x80070057);
constexpr std::int32_t E_NOTIMPL = static_cast<std::int32_t>(0x80004001);
constexpr std::int32_t E_NOINTERFACE = static_cast<std::int32_t>(0x80004002);
constexpr std::int32_t DISP_E_UNKNOWNNAME = static_cast<std::int32_t>(0x80020006);
constexpr std::int32_t DISP_E_EXCEPTION = static_cast<std::int32_t>(0x80020009);
constexpr std::int32_t RPC_E_DISCONNECTED = static_cast<std::int32_t>(0x80010108);
constexpr char16_t disconnectedText[] = u"The object invoked has disconnected from its clients.";

// Entry point operations of the bridge script.
enum ScriptOp {
    OpGet = 1,
    OpPut = 2,
    OpCall = 3,
    OpHas = 4,
    OpScriptError = 5,
    OpWindow = 6,
    OpElementConnected = 7,
    OpElementMember = 8,
    OpElementBox = 9,
    OpElementGone = 10,
};

std::string utf8Of(JSCValue* v) {
    GBytes* bytes = jsc_value_to_string_as_bytes(v);
    if (!bytes)
        return {};
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string s(data ? data : "", size);
    g_bytes_unref(bytes);
    return s;
}

bool hasLoneSurrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return true;
        }
        if (c >= 0xDC00 && c <= 0xDFFF)
            return true;
    }
    return false;
}

// The code units of a Uint16Array.
std::u16string unitsOfArray(JSCValue* array) {
    gsize length = 0;
    const auto* data = static_cast<const char16_t*>(jsc_value_typed_array_get_data(array, &length));
    return data ? std::u16string(data, length) : std::u16string();
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
}

void PageBridge::windowObjectCleared(WebKitFrame* frame, WebKitScriptWorld* world) {
    if (!webkit_frame_is_main_frame(frame) || world != webkit_script_world_get_default())
        return;
    dropDocument();
    if (!connected() && !connect())
        return;
    if (!installScript(frame, world))
        return;
    const char* uri = webkit_frame_get_uri(frame);
    call(Op::DocumentReady, {Value::fromString16(com::utf8ToUtf16(uri ? uri : ""))});
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
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    GUnixFDList* list = g_unix_fd_list_new();
    const bool appended = g_unix_fd_list_append(list, fds[1], nullptr) >= 0;
    close(fds[1]);
    rpc::Endpoint::Options options;
    options.releaseOp = static_cast<std::uint8_t>(Op::ReleaseNative);
    options.acceptDescriptors = true;
    rpc::Endpoint::Side& side = *this;
    endpoint_ = std::make_shared<rpc::Endpoint>(fds[0], side, std::move(options));
    if (!appended) {
        g_object_unref(list);
        disconnect();
        return false;
    }
    // Without a reply callback WebKit keeps no copy of the descriptor here: when the UI
    // drops the message (no bridge on that view) the socket reads as closed.
    WebKitUserMessage* message = webkit_user_message_new_with_fd_list(
        rpc::connectMessageName, g_variant_new_uint32(rpc::protocolVersion), list);
    g_object_unref(list);
    webkit_web_page_send_message_to_view(page_, message, nullptr, nullptr, nullptr);

    auto greeting = endpoint_->receiveFirst(rpc::Endpoint::noDeadline);
    const auto sharedSize = greeting ? rpc::helloSharedSize(greeting->message) : std::nullopt;
    if (!sharedSize) {
        if (greeting && greeting->fd >= 0)
            close(greeting->fd);
        disconnect();
        return false;
    }
    if (*sharedSize > 0 && greeting->fd >= 0)
        shared_ = rpc::SharedArea::adopt(greeting->fd, *sharedSize);
    else if (greeting->fd >= 0)
        close(greeting->fd);
    source_ = std::make_unique<rpc::EndpointSource>(*endpoint_, nullptr, G_PRIORITY_DEFAULT);
    // What came with the greeting (the user agent) is already read: serve it now.
    endpoint_->serve();
    return connected();
}

void PageBridge::disconnect() {
    // Without the UI nobody keeps the text current: WebKit's own header is right again.
    userAgent_.clear();
    source_.reset();
    if (endpoint_) {
        // A call of this endpoint may still be on the stack: it keeps the endpoint alive
        // until it returns.
        endpoint_->detach();
        endpoint_.reset();
    }
    unmapSharedView();
    shared_.reset();
}

void PageBridge::ended() {
    userAgent_.clear();
    source_.reset();
}

void PageBridge::dropDocument() {
    if (link_)
        link_->bridge = nullptr;
    link_.reset();
    proxies_.clear();
    objects_.clear();
    cleared_.clear();
    dead_.clear();
    unmapSharedView();
    for (auto* slot :
         {&make_, &classify_, &forget_, &setPath_, &get_, &put_, &call_, &has_, &units_,
          &fromUnits_, &run_, &fire_, &makeDate_, &fail_, &method_, &unknown_, &date_})
        slot->reset();
    context_.reset();
    frame_.reset();
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
    date_ = GObjectRef<JSCValue>::adopt(jsc_value_new_object(c, nullptr, nullptr));
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
        method_.get(), JSC_TYPE_VALUE, unknown_.get(), JSC_TYPE_VALUE, date_.get(), G_TYPE_NONE));
    if (jsc_context_get_exception(c) || !jsc_value_is_array(helpers.get())) {
        g_warning("norv-bridge: the bridge script failed");
        jsc_context_clear_exception(c);
        dropDocument();
        return false;
    }
    GObjectRef<JSCValue>* slots[] = {&make_, &classify_, &forget_,  &setPath_, &get_,
                                     &put_,  &call_,     &has_,     &units_,   &fromUnits_,
                                     &run_,  &fire_,     &makeDate_};
    for (unsigned i = 0; i < std::size(slots); ++i)
        *slots[i] =
            GObjectRef<JSCValue>::adopt(jsc_value_object_get_property_at_index(helpers.get(), i));
    context_ = std::move(ctx);
    frame_ = GObjectRef<WebKitFrame>::retain(frame);
    return true;
}

// ---- RPC -------------------------------------------------------------------------------

PageBridge::Answer PageBridge::call(Op op, std::vector<Value> values) {
    Answer answer;
    if (!connected())
        return answer;
    collectReleases();
    auto endpoint = endpoint_;
    // The reply's value is converted as it is read: a release the UI sends after it must
    // not be looked at before the script objects the value names are found.
    const rpc::Endpoint::Receiver receive = [this, &answer](rpc::Message& reply) {
        if (reply.values.empty())
            return;
        answer.empty = false;
        Value& v = reply.values[0];
        if (v.tag == Tag::Error) {
            answer.failed = true;
            answer.error = std::move(v);
            return;
        }
        if (context_)
            answer.value = GObjectRef<JSCValue>::adopt(fromWire(v));
    };
    answer.replied = endpoint->call(static_cast<std::uint8_t>(op), std::move(values),
                                    rpc::Endpoint::noDeadline, receive) == Outcome::Replied;
    return answer;
}

void PageBridge::dropReply(rpc::Message& reply) {
    // Counts what it hands out; the collector lets it go.
    if (!context_)
        return;
    for (const Value& v : reply.values)
        g_object_unref(fromWire(v));
}

void PageBridge::serveNotice(rpc::Message& message) {
    if (message.op == static_cast<std::uint8_t>(Op::UserAgent)) {
        // A text that is not header text never reaches a request. WebKit reads the header
        // it is handed one octet per character, so that is how it is written.
        userAgent_.clear();
        if (auto text = rpc::userAgentText(message)) {
            for (char16_t c : *text)
                userAgent_.push_back(static_cast<char>(c));
        }
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

void PageBridge::serveRequest(rpc::Message& message, rpc::Message& reply) {
    auto& args = message.values;
    auto error = [&](std::int32_t hr, std::u16string text = {}) {
        reply.values = {Value::error(hr, std::move(text))};
    };
    const auto op = static_cast<Op>(message.op);
    JSCContext* c = context_.get();
    if (!c) {
        error(RPC_E_DISCONNECTED, disconnectedText);
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
        const std::u16string& code = args[0].text16;
        if (hasLoneSurrogate(code)) {
            // The engine's UTF-8 interface cannot carry this code: evaluate it from script.
            JSCValue* text = newString(code);
            JSCValue* r = helperCall(run_.get(), {text});
            g_object_unref(text);
            Value failure;
            if (takeScriptFailure(r, failure))
                reply.values = {Value::error(DISP_E_EXCEPTION, std::move(failure.text16))};
            else
                reply.values = {toWire(r)};
            g_object_unref(r);
            break;
        }
        const std::string utf8 = com::utf16ToUtf8(code);
        JSCValue* r = jsc_context_evaluate(c, utf8.data(), static_cast<gssize>(utf8.size()));
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
        JSCValue* path = newString(args[0].text16);
        JSCValue* value = fromWire(args[1]);
        JSCValue* r = helperCall(setPath_.get(), {path, value});
        g_object_unref(path);
        g_object_unref(value);
        const std::int32_t hr = jsc_value_is_number(r) ? jsc_value_to_int32(r) : E_INVALIDARG;
        g_object_unref(r);
        if (hr == DISP_E_EXCEPTION) {
            auto d = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(fail_.get(), "d"));
            error(hr, unitsOf(d.get()));
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
        JSCValue* name = newString(args[1].text16);
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
        JSCValue* name = newString(args[1].text16);
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
        std::vector<JSCValue*> in{obj, newString(args[1].text16),
                                  jsc_value_new_boolean(c, args[2].boolean)};
        for (std::size_t i = 3; i < args.size(); ++i)
            in.push_back(fromWire(args[i]));
        answer(call_.get(), in);
        for (std::size_t i = 1; i < in.size(); ++i)
            g_object_unref(in[i]);
        break;
    }
    case Op::FrameDocument: {
        JSCValue* obj = object(0);
        if (!obj) {
            error(RPC_E_DISCONNECTED, disconnectedText);
            break;
        }
        FrameDocument frame = frameDocumentOf(frame_.get(), obj);
        if (!frame.isFrameElement)
            error(E_NOINTERFACE);
        else
            reply.values = {frame.document ? toWire(frame.document.get()) : Value::null()};
        break;
    }
    case Op::ElementEvent: {
        if (args.size() != 3 || args[0].tag != Tag::I4 || !isString(1) ||
            args[2].tag != Tag::Record) {
            error(E_INVALIDARG);
            break;
        }
        JSCValue* element = jsc_value_new_number(c, args[0].i4);
        JSCValue* name = newString(args[1].text16);
        JSCValue* fields = fromWire(args[2]);
        g_object_unref(helperCall(fire_.get(), {element, name, fields}));
        g_object_unref(element);
        g_object_unref(name);
        g_object_unref(fields);
        break;
    }
    default:
        error(E_NOTIMPL);
        break;
    }
    collectReleases();
}

void PageBridge::notify(Op op, std::vector<Value> values) {
    if (endpoint_)
        endpoint_->post({Kind::Notice, 0, static_cast<std::uint8_t>(op), std::move(values)});
}

void PageBridge::collectReleases() {
    for (auto [handle, weak] : cleared_) {
        auto it = proxies_.find(handle);
        if (it != proxies_.end() && it->second.weak.get() == weak) {
            if (endpoint_)
                endpoint_->queueRelease(Value::nativeObject(handle), it->second.received);
            dead_.push_back(std::move(it->second.weak));
            proxies_.erase(it);
        }
    }
    cleared_.clear();
    dead_.clear();
}

void PageBridge::proxyCleared(std::uint32_t handle, JSCWeakValue* weak) {
    // Called by the garbage collector: only note it; the tables change at a safe point.
    cleared_.emplace_back(handle, weak);
    if (endpoint_)
        endpoint_->noteReleases();
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
        Answer answer =
            call(Op::Get, {Value::nativeObject(handle), Value::fromString16(nameOf(arg(2)))});
        if (answer.replied && answer.empty)
            return static_cast<JSCValue*>(g_object_ref(method_.get()));
        if (answer.replied && answer.failed && answer.error.i4 == DISP_E_UNKNOWNNAME)
            return static_cast<JSCValue*>(g_object_ref(unknown_.get()));
        return answerValue(answer);
    }
    case OpPut: {
        values = {Value::nativeObject(handle), Value::fromString16(nameOf(arg(2))),
                  args->len > 3 ? toWire(arg(3)) : Value::empty()};
        Answer answer = call(Op::Put, std::move(values));
        if (!answer.replied)
            return fail(RPC_E_DISCONNECTED, disconnectedText);
        if (answer.failed)
            return fail(answer.error.i4, answer.error.text16);
        return jsc_value_new_undefined(c);
    }
    case OpCall: {
        values = {Value::nativeObject(handle), Value::fromString16(nameOf(arg(2)))};
        for (guint i = 3; i < args->len; ++i)
            values.push_back(toWire(arg(i)));
        Answer answer = call(Op::Call, std::move(values));
        return answerValue(answer);
    }
    case OpHas: {
        Answer answer =
            call(Op::Has, {Value::nativeObject(handle), Value::fromString16(nameOf(arg(2)))});
        return answerValue(answer);
    }
    case OpElementConnected: {
        Answer answer =
            call(Op::ElementConnected, {Value::fromI4(static_cast<std::int32_t>(handle)),
                                        Value::fromString16(nameOf(arg(2)))});
        return answerValue(answer);
    }
    case OpElementMember: {
        if (args->len < 4)
            return fail(E_INVALIDARG, u"");
        values = {Value::fromI4(static_cast<std::int32_t>(handle)),
                  Value::fromString16(nameOf(arg(2))), Value::fromI4(jsc_value_to_int32(arg(3)))};
        for (guint i = 4; i < args->len; ++i)
            values.push_back(toWire(arg(i)));
        Answer answer = call(Op::ElementMember, std::move(values));
        return answerValue(answer);
    }
    case OpElementBox:
        if (args->len >= 8) {
            values = {Value::fromI4(static_cast<std::int32_t>(handle))};
            for (guint i = 3; i < 7; ++i)
                values.push_back(Value::fromR8(jsc_value_to_double(arg(i))));
            values.push_back(Value::fromBool(jsc_value_to_boolean(arg(7))));
            // The part of the viewport the element can be seen in.
            if (args->len >= 12)
                for (guint i = 8; i < 12; ++i)
                    values.push_back(Value::fromR8(jsc_value_to_double(arg(i))));
            notify(Op::ElementBox, std::move(values));
        }
        return jsc_value_new_undefined(c);
    case OpElementGone:
        notify(Op::ElementGone, {Value::fromI4(static_cast<std::int32_t>(handle))});
        return jsc_value_new_undefined(c);
    case OpScriptError:
        if (args->len >= 8) {
            values = {Value::fromString16(unitsOf(arg(3))), Value::fromString16(unitsOf(arg(4))),
                      Value::fromI4(jsc_value_to_int32(arg(5))),
                      Value::fromI4(jsc_value_to_int32(arg(6))),
                      Value::fromI4(jsc_value_to_int32(arg(7)))};
            call(Op::ScriptError, std::move(values));
        }
        return jsc_value_new_undefined(c);
    case OpWindow: {
        values = {Value::fromString16(nameOf(arg(2))),
                  args->len > 3 ? toWire(arg(3)) : Value::empty(),
                  args->len > 4 ? toWire(arg(4)) : Value::empty()};
        Answer answer = call(Op::WindowCall, std::move(values));
        if (answer.replied && answer.failed)
            return fail(answer.error.i4, answer.error.text16);
        return jsc_value_new_undefined(c);
    }
    default:
        return fail(E_INVALIDARG, u"");
    }
}

JSCValue* PageBridge::answerValue(Answer& answer) {
    if (!answer.replied)
        return fail(RPC_E_DISCONNECTED, disconnectedText);
    if (answer.failed)
        return fail(answer.error.i4, answer.error.text16);
    if (answer.value)
        return static_cast<JSCValue*>(g_object_ref(answer.value.get()));
    JSCContext* c = context_.get();
    return jsc_value_new_undefined(c ? c : jsc_context_get_current());
}

JSCValue* PageBridge::fail(std::int32_t hr, const std::u16string& description) {
    JSCContext* c = context_.get();
    if (!c)
        return jsc_value_new_undefined(jsc_context_get_current());
    JSCValue* n = jsc_value_new_number(c, hr);
    JSCValue* d = newString(description);
    jsc_value_object_set_property(fail_.get(), "n", n);
    jsc_value_object_set_property(fail_.get(), "d", d);
    g_object_unref(n);
    g_object_unref(d);
    return static_cast<JSCValue*>(g_object_ref(fail_.get()));
}

std::u16string PageBridge::unitsOf(JSCValue* string) {
    if (!jsc_value_is_string(string))
        return com::utf8ToUtf16(utf8Of(string));
    if (units_) {
        JSCValue* r = helperCall(units_.get(), {string});
        const bool array = jsc_value_is_typed_array(r);
        std::u16string units = array ? unitsOfArray(r) : std::u16string();
        g_object_unref(r);
        if (array)
            return units;
    }
    return com::utf8ToUtf16(utf8Of(string)); // well formed: the UTF-8 form is exact
}

std::u16string PageBridge::nameOf(JSCValue* name) {
    if (jsc_value_is_typed_array(name))
        return unitsOfArray(name);
    return com::utf8ToUtf16(utf8Of(name));
}

JSCValue* PageBridge::newString(const std::u16string& text) {
    JSCContext* c = context_.get();
    if (hasLoneSurrogate(text) && fromUnits_) {
        JSCValue* array = jsc_value_new_typed_array(c, JSC_TYPED_ARRAY_UINT16, text.size());
        gsize length = 0;
        if (auto* data = static_cast<char16_t*>(jsc_value_typed_array_get_data(array, &length)))
            std::memcpy(data, text.data(), std::min<std::size_t>(length, text.size()) * 2);
        JSCValue* s = helperCall(fromUnits_.get(), {array});
        g_object_unref(array);
        return s;
    }
    const std::string utf8 = com::utf16ToUtf8(text);
    GBytes* bytes = g_bytes_new(utf8.data(), utf8.size());
    JSCValue* v = jsc_value_new_string_from_bytes(c, bytes);
    g_bytes_unref(bytes);
    return v;
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
        return Value::fromString16(unitsOf(v));
    if (jsc_value_is_object(v) && classify_) {
        JSCValue* r = helperCall(classify_.get(), {v});
        if (r == date_.get()) {
            auto t = GObjectRef<JSCValue>::adopt(jsc_value_object_get_property(date_.get(), "t"));
            g_object_unref(r);
            const double date = rpc::timeToAutomationDate(jsc_value_to_double(t.get()));
            return std::isfinite(date) ? Value::date(date) : Value::null(); // an invalid Date
        }
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
        return newString(v.text16);
    case Tag::NativeObject:
        return proxyFor(v.handle);
    case Tag::ScriptObject: {
        auto it = objects_.find(v.handle);
        if (it != objects_.end())
            return static_cast<JSCValue*>(g_object_ref(it->second.value.get()));
        return jsc_value_new_undefined(c);
    }
    case Tag::SharedBytes:
        if (JSCValue* view = sharedView(v.handle, v.size))
            return view;
        return jsc_value_new_undefined(c);
    case Tag::Date: {
        JSCValue* time = jsc_value_new_number(c, rpc::automationDateToTime(v.r8));
        JSCValue* date = helperCall(makeDate_.get(), {time});
        g_object_unref(time);
        return date;
    }
    case Tag::Bytes: {
        JSCValue* array = jsc_value_new_typed_array(c, JSC_TYPED_ARRAY_UINT8, v.bytes.size());
        gsize length = 0;
        if (auto* data = static_cast<std::uint8_t*>(jsc_value_typed_array_get_data(array, &length)))
            std::memcpy(data, v.bytes.data(), std::min<std::size_t>(length, v.bytes.size()));
        return array;
    }
    case Tag::List: {
        GPtrArray* items = g_ptr_array_new_with_free_func(g_object_unref);
        for (const Value& item : v.items)
            g_ptr_array_add(items, fromWire(item));
        JSCValue* array = jsc_value_new_array_from_garray(c, items);
        g_ptr_array_unref(items);
        return array;
    }
    case Tag::Record: {
        JSCValue* object = jsc_value_new_object(c, nullptr, nullptr);
        for (std::size_t i = 0; i + 1 < v.items.size(); i += 2) {
            const std::string name = com::utf16ToUtf8(v.items[i].text16);
            JSCValue* field = fromWire(v.items[i + 1]);
            jsc_value_object_define_property_data(
                object, name.c_str(),
                static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_CONFIGURABLE |
                                                   JSC_VALUE_PROPERTY_ENUMERABLE |
                                                   JSC_VALUE_PROPERTY_WRITABLE),
                field);
            g_object_unref(field);
        }
        return object;
    }
    case Tag::Empty:
    case Tag::Error:
        break;
    }
    return jsc_value_new_undefined(c);
}

JSCValue* PageBridge::sharedView(std::uint32_t offset, std::uint32_t size) {
    JSCContext* c = context_.get();
    if (!c || !shared_ || (shared_->range(offset, size).empty() && size > 0))
        return nullptr;
    if (!sharedBuffer_) {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t length = shared_->size();
        auto array = GObjectRef<JSCValue>::adopt(
            jsc_value_new_typed_array(c, JSC_TYPED_ARRAY_UINT8, length + 2 * page));
        gsize have = 0;
        auto* data =
            array ? static_cast<std::uint8_t*>(jsc_value_typed_array_get_data(array.get(), &have))
                  : nullptr;
        if (!data || have < length + 2 * page)
            return nullptr;
        const std::size_t skip =
            (page - reinterpret_cast<std::uintptr_t>(data) % page) % page; // to a page start
        void* at = mmap(data + skip, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED,
                        shared_->fd(), 0);
        if (at == MAP_FAILED)
            return nullptr;
        sharedBuffer_ = GObjectRef<JSCValue>::adopt(jsc_value_typed_array_get_buffer(array.get()));
        sharedPages_ = data + skip;
        sharedBufferOffset_ = skip + jsc_value_typed_array_get_offset(array.get());
        sharedLength_ = length;
    }
    return jsc_value_new_typed_array_with_buffer(sharedBuffer_.get(), JSC_TYPED_ARRAY_UINT8,
                                                 sharedBufferOffset_ + offset, size);
}

void PageBridge::unmapSharedView() {
    if (sharedPages_) {
        // Plain memory again, for the engine to free as its own; views script kept read
        // zeros from now on.
        mmap(sharedPages_, sharedLength_, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        sharedPages_ = nullptr;
    }
    sharedBuffer_.reset();
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
    error = Value::error(jsc_value_to_int32(n.get()), unitsOf(d.get()));
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
