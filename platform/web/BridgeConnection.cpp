#include "platform/web/BridgeConnection.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/com/ErrorInfo.h"
#include "platform/com/Exceptions.h"
#include "platform/web/ElementSite.h"
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
using Outcome = rpc::Endpoint::Outcome;

namespace {

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

// One round of the UI thread's main loop, back by `deadline` at the latest: the bridge's
// own source serves the page meanwhile, and GTK and WebKit stay alive.
void mainLoopRound(rpc::Endpoint::Deadline deadline) {
    GMainContext* context = g_main_context_default();
    if (deadline == rpc::Endpoint::noDeadline) {
        g_main_context_iteration(context, TRUE);
        return;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - rpc::Endpoint::Clock::now());
    if (left.count() <= 0)
        return;
    GSource* timer =
        g_timeout_source_new(static_cast<guint>(std::min<long long>(left.count(), 60000)));
    g_source_set_callback(
        timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
}

HRESULT outcomeFailure(Outcome outcome) {
    switch (outcome) {
    case Outcome::TimedOut:
        return RPC_E_TIMEOUT;
    case Outcome::Cancelled:
        return RPC_E_CALL_CANCELED;
    case Outcome::Ended:
    case Outcome::Replied:
        break;
    }
    return RPC_E_DISCONNECTED;
}

} // namespace

BridgeConnection::BridgeConnection(int fd, Host* host, std::size_t sharedSize)
    : host_(host), thread_(std::this_thread::get_id()), sharedSize_(sharedSize) {
    rpc::Endpoint::Options options;
    options.releaseOp = static_cast<std::uint8_t>(Op::ReleaseScript);
    options.sleepHome = &mainLoopRound;
    rpc::Endpoint::Side& side = *this;
    endpoint_ = std::make_shared<rpc::Endpoint>(fd, side, std::move(options));
}

BridgeConnection::~BridgeConnection() {
    close();
    endpoint_->detach();
}

void BridgeConnection::start() {
    if (sharedSize_ > 0)
        shared_ = rpc::SharedArea::create(sharedSize_);
    const auto size = shared_ ? static_cast<std::uint32_t>(shared_->size()) : 0u;
    endpoint_->post(rpc::helloNotice(size), shared_ ? shared_->fd() : -1);
    // The page's calls must be served while a call of ours waits inside this source's own
    // dispatch.
    source_ = std::make_unique<rpc::EndpointSource>(*endpoint_, g_main_context_default(),
                                                    G_PRIORITY_HIGH);
}

void BridgeConnection::close() {
    if (closed_)
        return;
    closed_ = true;
    source_.reset();
    endpoint_->close();
    releaseAll();
}

void BridgeConnection::ended() {
    auto keep = shared_from_this();
    close();
}

void BridgeConnection::releaseAll() {
    releaseElements();
    // Let the objects go only after the tables are consistent: their destructors may call
    // back into anything.
    std::unordered_map<std::uint32_t, Native> natives;
    std::unordered_map<std::uint32_t, std::vector<rpc::SharedBlock>> lingering;
    {
        std::lock_guard lock(tables_);
        natives.swap(natives_);
        nativeIds_.clear();
        wrappers_.clear();
        lingering.swap(lingering_); // the document that could write them is gone
        answeredLate_.clear();
        tablesClosed_ = closed_;
    }
    natives.clear();
}

void BridgeConnection::releaseElement(std::int32_t element) {
    auto it = elements_.find(element);
    if (it == elements_.end())
        return;
    std::unique_ptr<ElementSite> site = std::move(it->second);
    elements_.erase(it);
    const ElementId id = site->id();
    site->release();
    site.reset();
    if (host_)
        host_->elementReleased(id);
}

void BridgeConnection::releaseElements() {
    // The host's handler may do anything, the table changes meanwhile included.
    while (!elements_.empty())
        releaseElement(elements_.begin()->first);
}

std::size_t BridgeConnection::liveElements() const {
    return elements_.size();
}

std::size_t BridgeConnection::liveNativeObjects() const {
    std::lock_guard lock(tables_);
    return natives_.size();
}

std::size_t BridgeConnection::liveScriptObjects() const {
    std::lock_guard lock(tables_);
    return wrappers_.size();
}

// ---- Calls into the page ---------------------------------------------------------------

HRESULT BridgeConnection::request(Op op, std::vector<Value> values, Deadline deadline,
                                  Answer& answer, std::uint32_t tag, std::stop_token cancel,
                                  std::uint32_t* sent) {
    auto keep = shared_from_this();
    // The reply's value is converted as it is read: a release the page sends after it
    // must not be looked at before the objects the value names are counted.
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
        Value error;
        Variant value;
        if (fromWire(v, value, error))
            answer.value = std::move(value);
    };
    const Outcome outcome = endpoint_->call(static_cast<std::uint8_t>(op), std::move(values),
                                            deadline, receive, tag, std::move(cancel), sent);
    return outcome == Outcome::Replied ? com::S_OK : outcomeFailure(outcome);
}

void BridgeConnection::dropReply(rpc::Message& reply) {
    // Counts what it hands out, then lets it go at once.
    for (const Value& v : reply.values) {
        Variant discard;
        Value error;
        fromWire(v, discard, error);
    }
    // The page is done with the copies of that call: their room is free again.
    std::vector<rpc::SharedBlock> done;
    {
        std::lock_guard lock(tables_);
        if (auto it = lingering_.find(reply.id); it != lingering_.end()) {
            done = std::move(it->second);
            lingering_.erase(it);
        } else {
            // Its caller may not have filed the copies yet.
            answeredLate_.push_back(reply.id);
            if (answeredLate_.size() > maxAnsweredLate)
                answeredLate_.pop_front();
        }
    }
}

HRESULT BridgeConnection::failureOf(const Answer& answer, Variant* result,
                                    com::ExcepInfo* excepInfo) {
    if (!answer.failed) {
        if (result)
            *result = answer.value;
        return com::S_OK;
    }
    const Value& v = answer.error;
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
    Answer answer;
    if (com::failed(request(Op::RunScript, {Value::fromString16(std::u16string(code))}, noDeadline,
                            answer, generation_)))
        return com::E_ACCESSDENIED;
    return failureOf(answer, result, nullptr);
}

HRESULT BridgeConnection::setPath(std::u16string_view path, const Variant& value) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    if (!hasDocument())
        return com::E_ACCESSDENIED;
    Answer answer;
    if (com::failed(request(Op::SetPath, {Value::fromString16(std::u16string(path)), toWire(value)},
                            noDeadline, answer, generation_)))
        return com::E_ACCESSDENIED;
    if (answer.failed) {
        const Value& e = answer.error;
        if (!e.text16.empty())
            com::setErrorInfo(com::ErrorInfo{Bstr(e.text16), com::IID_NULL, Bstr()});
        return e.i4 < 0 ? e.i4 : com::E_FAIL;
    }
    return com::S_OK;
}

HRESULT BridgeConnection::scriptAction(std::uint32_t id, std::uint32_t generation,
                                       ScriptAction action, const std::u16string& name, bool getToo,
                                       std::vector<Variant> args, Variant* result,
                                       com::ExcepInfo* excepInfo, Deadline deadline,
                                       std::stop_token cancel) {
    if (!isCurrent(generation))
        return RPC_E_DISCONNECTED;
    std::vector<Value> values{Value::scriptObject(id), Value::fromString16(name)};
    Op op = Op::ScriptGet;
    switch (action) {
    case ScriptAction::Get:
        break;
    case ScriptAction::FrameDocument:
        op = Op::FrameDocument;
        values.pop_back();
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
        break;
    }
    std::vector<ByteCopy> copies;
    if (action == ScriptAction::Call)
        argumentsToWire(args, values, copies);
    Answer answer;
    // `args` stays alive until the call is over: an object it names cannot be released to
    // the page before the request that names it.
    std::uint32_t sent = 0;
    HRESULT hr =
        request(op, std::move(values), deadline, answer, generation, std::move(cancel), &sent);
    if (hr == com::S_OK) {
        // What script wrote into the copies is the caller's now.
        for (ByteCopy& copy : copies)
            std::copy(copy.block.bytes().begin(), copy.block.bytes().end(), copy.target);
    } else if (!copies.empty() && sent != 0) {
        // The page may still be writing them: they stay its own until its late reply comes
        // (or its document goes), and are never copied back.
        std::lock_guard lock(tables_);
        auto late = std::find(answeredLate_.begin(), answeredLate_.end(), sent);
        if (late != answeredLate_.end()) {
            answeredLate_.erase(late);
        } else if (!tablesClosed_ && isCurrent(generation)) {
            auto& kept = lingering_[sent];
            for (ByteCopy& copy : copies)
                kept.push_back(std::move(copy.block));
        }
    }
    if (hr == RPC_E_CALL_CANCELED && !isCurrent(generation))
        return RPC_E_DISCONNECTED; // ended by its document going away
    if (com::failed(hr))
        return hr;
    return failureOf(answer, result, excepInfo);
}

void BridgeConnection::argumentsToWire(const std::vector<Variant>& args, std::vector<Value>& values,
                                       std::vector<ByteCopy>& copies) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Variant& a = args[i];
        if (a.vt() != (com::VT_UI1 | com::VT_BYREF) || i + 1 >= args.size() || !shared_ ||
            !a.byteRef()) {
            values.push_back(toWire(a));
            continue;
        }
        // A byte reference and its size: exactly those bytes.
        Variant size;
        if (com::failed(com::changeType(size, args[i + 1], com::VT_R8)) || size.r8() < 0 ||
            size.r8() > static_cast<double>(shared_->size()) ||
            size.r8() != std::trunc(size.r8())) {
            values.push_back(toWire(a));
            continue;
        }
        const auto n = static_cast<std::size_t>(size.r8());
        if (auto offset = shared_->offsetInBlock(a.byteRef(), n)) {
            values.push_back(Value::sharedBytes(*offset, static_cast<std::uint32_t>(n)));
            continue;
        }
        // Bytes elsewhere: script works on a copy in the shared memory, which is copied back.
        auto block = n > 0 ? shared_->reserve(n) : std::nullopt;
        if (!block) {
            values.push_back(Value::empty());
            continue;
        }
        std::copy(a.byteRef(), a.byteRef() + n, block->bytes().begin());
        values.push_back(Value::sharedBytes(block->offset(), static_cast<std::uint32_t>(n)));
        copies.push_back(ByteCopy{a.byteRef(), std::move(*block)});
    }
}

void BridgeConnection::elementEvent(std::int32_t element, std::uint32_t generation,
                                    const std::u16string& name,
                                    std::vector<std::pair<std::u16string, Variant>> args) {
    if (!isCurrent(generation))
        return;
    Value fields = Value::record();
    for (const auto& [argument, value] : args)
        fields.field(argument, toWire(value, 1));
    const Deadline deadline =
        onOwnThread() ? noDeadline : rpc::Endpoint::Clock::now() + workerCallTimeout;
    Answer answer;
    // `args` stays alive until the call is over (objects it names are counted).
    request(Op::ElementEvent,
            {Value::fromI4(element), Value::fromString16(name), std::move(fields)}, deadline,
            answer, generation);
}

HRESULT BridgeConnection::sendUserAgent(std::string_view text) {
    if (!onOwnThread())
        return RPC_E_WRONG_THREAD;
    std::u16string wide = com::utf8ToUtf16(text);
    const bool valid = rpc::isHeaderText(wide);
    endpoint_->post(rpc::userAgentNotice(valid ? std::move(wide) : std::u16string()));
    return valid ? com::S_OK : com::E_INVALIDARG;
}

BridgeConnection::WorkerHold BridgeConnection::holdWorkerCalls() {
    WorkerHold hold;
    hold.connection_ = shared_from_this();
    hold.hold_ = endpoint_->holdWorkerCalls();
    return hold;
}

void BridgeConnection::wrapperGone(ScriptObject* wrapper, std::uint32_t id,
                                   std::uint32_t generation, std::uint32_t count) {
    {
        std::lock_guard lock(tables_);
        auto it = wrappers_.find(id);
        if (it != wrappers_.end() && it->second == wrapper)
            wrappers_.erase(it);
    }
    if (!isCurrent(generation) || count == 0)
        return;
    // Sent only after the next message (a reply may still name this object): a release
    // overtaking it would let the page forget the object too early.
    endpoint_->queueRelease(Value::scriptObject(id), count);
}

void BridgeConnection::lastReleaseOf(ScriptObject* wrapper) {
    std::lock_guard lock(tables_);
    if (!wrapper->isLastReference())
        return;
    auto it = wrappers_.find(wrapper->id());
    if (it != wrappers_.end() && it->second == wrapper)
        wrappers_.erase(it);
}

// ---- Calls from the page ---------------------------------------------------------------

void BridgeConnection::serveNotice(rpc::Message& message) {
    if (auto box = rpc::elementBox(message)) {
        auto it = elements_.find(box->element);
        if (it != elements_.end() && host_) {
            ElementBox reported{box->x, box->y, box->width, box->height, box->visible};
            if (box->clipped)
                reported.clip =
                    ElementClip{box->clipX, box->clipY, box->clipWidth, box->clipHeight};
            host_->elementBox(it->second->id(), reported);
        }
        return;
    }
    if (auto gone = rpc::elementGone(message)) {
        auto keep = shared_from_this();
        releaseElement(*gone);
        return;
    }
    if (message.op != static_cast<std::uint8_t>(Op::ReleaseNative))
        return;
    const auto& v = message.values;
    std::vector<Native> gone;
    {
        std::lock_guard lock(tables_);
        for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
            if (v[i].tag != Tag::NativeObject || v[i + 1].tag != Tag::I4)
                continue;
            auto it = natives_.find(v[i].handle);
            if (it == natives_.end())
                continue; // an earlier document's, or already gone
            const auto count = static_cast<std::uint32_t>(v[i + 1].i4);
            it->second.sent -= std::min(count, it->second.sent);
            if (it->second.sent == 0) {
                nativeIds_.erase(it->second.object.get());
                gone.push_back(std::move(it->second));
                natives_.erase(it);
            }
        }
    }
    // `gone` releases the objects here, after the tables are consistent.
}

void BridgeConnection::serveRequest(rpc::Message& message, rpc::Message& reply) {
    auto keep = shared_from_this();
    const auto& args = message.values;
    switch (static_cast<Op>(message.op)) {
    case Op::DocumentReady:
        if (args.size() == 1 && args[0].isString()) {
            // Answer only after the document is set up: the page waits meanwhile.
            newDocument(Bstr(args[0].text16));
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
    case Op::WindowCall:
        onWindowCall(args, reply);
        break;
    case Op::ElementConnected:
        onElementConnected(args, reply);
        break;
    case Op::ElementMember:
        onElementMember(args, reply);
        break;
    default:
        reply.values = {errorValue(com::E_NOTIMPL)};
        break;
    }
}

void BridgeConnection::newDocument(const Bstr& url) {
    const std::uint32_t generation = ++generation_;
    // Calls from other threads into the previous document end now: its objects are gone.
    endpoint_->cancelWorkerCalls(generation);
    releaseAll();
    if (host_)
        host_->documentReady(url);
}

ComPtr<com::IDispatch> BridgeConnection::nativeObject(const Value& value) const {
    if (value.tag != Tag::NativeObject)
        return nullptr;
    std::lock_guard lock(tables_);
    auto it = natives_.find(value.handle);
    return it == natives_.end() ? nullptr : it->second.object;
}

HRESULT BridgeConnection::lookUp(std::uint32_t handle, const std::u16string& name, DISPID& id) {
    ComPtr<com::IDispatch> object;
    {
        std::lock_guard lock(tables_);
        auto it = natives_.find(handle);
        if (it == natives_.end())
            return RPC_E_DISCONNECTED;
        if (auto known = it->second.ids.find(name); known != it->second.ids.end()) {
            id = known->second;
            return com::S_OK;
        }
        object = it->second.object;
    }
    const Bstr names[1] = {Bstr(name)};
    DISPID ids[1] = {com::DISPID_UNKNOWN};
    HRESULT hr = object->GetIDsOfNames(com::IID_NULL, names, com::LOCALE_USER_DEFAULT, ids);
    if (com::failed(hr))
        return hr;
    id = ids[0];
    // The object may have run the main loop, where the page could release it: look the
    // entry up again rather than trusting the one found before.
    std::lock_guard lock(tables_);
    if (auto it = natives_.find(handle); it != natives_.end() && it->second.object == object)
        it->second.ids.emplace(name, id);
    return com::S_OK;
}

namespace {
std::mutex recordsLock;
std::vector<const com::RecordInfo*>& knownRecords() {
    static std::vector<const com::RecordInfo*> records;
    return records;
}
} // namespace

void BridgeConnection::describeRecord(const com::RecordInfo& record) {
    std::lock_guard lock(recordsLock);
    auto& records = knownRecords();
    if (std::none_of(records.begin(), records.end(),
                     [&](const com::RecordInfo* r) { return r->name == record.name; }))
        records.push_back(&record);
}

std::vector<const com::RecordInfo*>
BridgeConnection::describedRecords(const std::vector<const com::RecordInfo*>& besides) {
    std::vector<const com::RecordInfo*> records = besides; // the element's own come first
    std::lock_guard lock(recordsLock);
    const auto& known = knownRecords();
    records.insert(records.end(), known.begin(), known.end());
    return records;
}

const com::ParamInfo* BridgeConnection::describedResult(com::IDispatch* object, DISPID id,
                                                        std::uint16_t flags) {
    std::uint32_t count = 0;
    if (!object || com::failed(object->GetTypeInfoCount(&count)) || count == 0)
        return nullptr;
    ComPtr<com::ITypeInfo> typeInfo;
    const com::InterfaceInfo* info = nullptr;
    if (com::failed(object->GetTypeInfo(0, com::LOCALE_USER_DEFAULT, typeInfo.put())) ||
        !typeInfo || com::failed(typeInfo->GetInterfaceInfo(&info)) || !info)
        return nullptr;
    const com::FuncInfo* f = info->findForCall(id, flags);
    return f && f->retval ? &*f->retval : nullptr;
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
    ComPtr<com::IDispatch> object = nativeObject(args[0]);
    if (!object) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    DISPID id = 0;
    HRESULT hr = lookUp(args[0].handle, args[1].text16, id);
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
    reply.values = {resultToWire(
        result, describedResult(object.get(), id, com::DISPATCH_PROPERTYGET), describedRecords())};
}

void BridgeConnection::onPut(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 3) || args.size() != 3) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    ComPtr<com::IDispatch> object = nativeObject(args[0]);
    Variant value;
    Value error = errorValue(RPC_E_DISCONNECTED, disconnectedText);
    if (!object || !fromWire(args[2], value, error)) {
        reply.values = {error};
        return;
    }
    DISPID id = 0;
    HRESULT hr = lookUp(args[0].handle, args[1].text16, id);
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
    ComPtr<com::IDispatch> object = nativeObject(args[0]);
    if (!object) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    const std::u16string& name = args[1].text16;
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
    if (hr == com::DISP_E_BADPARAMCOUNT && callArgs.size() >= 2) {
        // A property with an index written as a call with the value last, as on elements:
        // eq.gainLevels(3, 0.5).
        static const DISPID putName[1] = {com::DISPID_PROPERTYPUT};
        params.namedArgs = putName;
        excep = {};
        com::clearErrorInfo();
        hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, com::DISPATCH_PROPERTYPUT,
                            params, nullptr, &excep, &argErr);
    }
    if (com::failed(hr))
        reply.values = {invokeFailure(hr, excep)};
    else if (!params.namedArgs.empty())
        reply.values = {toWire(result)};
    else
        reply.values = {resultToWire(
            result,
            describedResult(object.get(), id, com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET),
            describedRecords())};
}

void BridgeConnection::onHas(const std::vector<Value>& args, rpc::Message& reply) {
    if (!memberHead(args, 2) || args.size() != 2) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    if (!nativeObject(args[0])) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    DISPID id = 0;
    const bool found = com::succeeded(lookUp(args[0].handle, args[1].text16, id));
    com::clearErrorInfo();
    reply.values = {Value::fromBool(found)};
}

void BridgeConnection::onScriptError(const std::vector<Value>& args, rpc::Message& reply) {
    if (args.size() != 5 || !args[0].isString() || !args[1].isString() || args[2].tag != Tag::I4 ||
        args[3].tag != Tag::I4 || args[4].tag != Tag::I4) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    ScriptError error{Bstr(args[0].text16), Bstr(args[1].text16), args[2].i4, args[3].i4,
                      args[4].i4};
    const bool keep = host_ ? host_->scriptError(error) : true;
    reply.values = {Value::fromBool(keep)};
}

void BridgeConnection::onWindowCall(const std::vector<Value>& args, rpc::Message& reply) {
    static constexpr std::pair<std::u16string_view, WindowCall> names[] = {
        {u"close", WindowCall::close},
        {u"resizeTo", WindowCall::resizeTo},
        {u"resizeBy", WindowCall::resizeBy},
        {u"moveTo", WindowCall::moveTo},
        {u"moveBy", WindowCall::moveBy}};
    const WindowCall* call = nullptr;
    if (args.size() == 3 && args[0].isString())
        for (const auto& [name, which] : names)
            if (args[0].text16 == name)
                call = &which;
    if (!call) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    // The arguments as the engine's own window functions take them: numbers, truncated.
    std::int32_t xy[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        Variant in;
        Value error;
        Variant number;
        if (fromWire(args[1 + i], in, error) &&
            com::succeeded(com::changeType(number, in, com::VT_R8)) && std::isfinite(number.r8()))
            xy[i] = static_cast<std::int32_t>(std::clamp(number.r8(), -2147483648.0, 2147483647.0));
    }
    if (!host_)
        return;
    com::clearErrorInfo();
    const HRESULT hr = host_->windowCall(*call, xy[0], xy[1]);
    if (com::failed(hr))
        reply.values = {errorValue(hr, failureText(hr))};
}

// ---- Elements --------------------------------------------------------------------------

void BridgeConnection::onElementConnected(const std::vector<Value>& args, rpc::Message& reply) {
    if (args.size() != 2 || args[0].tag != Tag::I4 || args[0].i4 <= 0 || !args[1].isString()) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    const std::int32_t element = args[0].i4;
    const auto guid = rpc::classIdGuid(args[1].text16);
    const auto clsid = guid ? com::GUID::parse(*guid) : std::nullopt;
    if (!clsid || elements_.count(element) != 0) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    if (elements_.size() >= maxElements) {
        reply.values = {errorValue(com::E_OUTOFMEMORY)};
        return;
    }
    if (!host_) {
        reply.values = {errorValue(com::E_NOTIMPL)};
        return;
    }
    const std::uint32_t generation = generation_;
    const ElementId id = ++lastElement_;
    ElementObject object;
    com::clearErrorInfo();
    HRESULT hr = host_->createElement(id, *clsid, object);
    if (com::succeeded(hr) && !object.object)
        hr = com::E_NOINTERFACE;
    if (com::failed(hr)) {
        reply.values = {errorValue(hr, failureText(hr))};
        return;
    }
    auto site = std::make_unique<ElementSite>(id, element, generation, std::move(object));
    // The host may have run the main loop meanwhile: the document may be gone, or the page
    // may have used the number again.
    if (!isCurrent(generation) || elements_.count(element) != 0 || !host_) {
        site->release();
        site.reset();
        if (host_)
            host_->elementReleased(id);
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    Value members = Value::record();
    for (const ElementSite::Member& m : site->members()) {
        const auto shape = m.isProperty() ? rpc::MemberShape::Property : rpc::MemberShape::Function;
        members.field(m.name, Value::fromI4(static_cast<std::int32_t>(shape)));
    }
    std::vector<Value> events;
    for (std::u16string& name : site->eventNames())
        events.push_back(Value::fromString16(std::move(name)));
    site->connectEvents(weak_from_this());
    elements_.emplace(element, std::move(site));
    reply.values = {Value::list({std::move(members), Value::list(std::move(events))})};
}

void BridgeConnection::onElementMember(const std::vector<Value>& args, rpc::Message& reply) {
    if (args.size() < 3 || args[0].tag != Tag::I4 || !args[1].isString() ||
        args[2].tag != Tag::I4 || args[2].i4 < 0 || args[2].i4 > 2) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    const auto action = static_cast<rpc::ElementAction>(args[2].i4);
    const std::size_t count = args.size() - 3;
    if ((action == rpc::ElementAction::Get && count != 0) ||
        (action == rpc::ElementAction::Put && count != 1)) {
        reply.values = {errorValue(com::E_INVALIDARG)};
        return;
    }
    auto it = elements_.find(args[0].i4);
    if (it == elements_.end() || !it->second->object()) {
        reply.values = {errorValue(RPC_E_DISCONNECTED, disconnectedText)};
        return;
    }
    ElementSite& site = *it->second;
    const ElementSite::Member* member = site.find(args[1].text16);
    if (!member) {
        reply.values = {errorValue(com::DISP_E_UNKNOWNNAME, failureText(com::DISP_E_UNKNOWNNAME))};
        return;
    }
    // What the call needs, taken now: serving it may run the main loop, where the page can
    // let go of the element.
    ComPtr<com::IDispatch> object(site.object());
    const std::vector<const com::RecordInfo*> records = describedRecords(site.records());
    const com::ParamInfo* description = member->result(action, count);
    bool put = action == rpc::ElementAction::Put;
    bool putRef = false;
    std::uint16_t flags = com::DISPATCH_PROPERTYGET;
    if (put) {
        putRef = member->put && member->put->kind == com::InvokeKind::PropertyPutRef;
    } else if (action == rpc::ElementAction::Call) {
        if (member->method) {
            flags = com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET;
        } else if (member->put && !member->put->params.empty() &&
                   count == member->put->params.size() && count >= 2) {
            // A property with an index written as a call with the value last.
            put = true;
            putRef = member->put->kind == com::InvokeKind::PropertyPutRef;
        }
    }
    DISPID id = 0;
    HRESULT hr = site.idOf(*member, id);
    if (com::failed(hr)) {
        reply.values = {errorValue(hr, failureText(hr))};
        return;
    }
    // COM order: the last argument first.
    std::vector<Variant> callArgs(count);
    for (std::size_t i = 0; i < count; ++i) {
        Value error;
        if (!fromWire(args[3 + i], callArgs[count - 1 - i], error)) {
            reply.values = {error};
            return;
        }
    }
    static const DISPID putName[1] = {com::DISPID_PROPERTYPUT};
    com::DispParams params{callArgs, {}};
    if (put)
        params.namedArgs = putName;
    if (put)
        flags = putRef ? com::DISPATCH_PROPERTYPUTREF : com::DISPATCH_PROPERTYPUT;
    Variant result;
    com::ExcepInfo excep;
    std::uint32_t argErr = 0;
    com::clearErrorInfo();
    hr = object->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, flags, params,
                        put ? nullptr : &result, &excep, &argErr);
    if (com::failed(hr)) {
        reply.values = {invokeFailure(hr, excep)};
        return;
    }
    if (!put)
        reply.values = {resultToWire(result, description, records)};
}

Value BridgeConnection::resultToWire(const Variant& result, const com::ParamInfo* description,
                                     const std::vector<const com::RecordInfo*>& records) {
    if (description && result.vt() == (com::VT_ARRAY | com::VT_UI1) && result.array()) {
        if (auto record = ElementSite::recordToWire(records, *description, result.array()->bytes))
            return std::move(*record);
    }
    return toWire(result);
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
    std::lock_guard lock(tables_);
    if (tablesClosed_)
        return Value::null(); // the page is gone: nobody would release it
    std::uint32_t handle = 0;
    // One script object per dispatch interface: an object that answers script through
    // several (the settings part's audio settings, equaliser and effects) is a different
    // script object through each, with that interface's members.
    if (auto it = nativeIds_.find(object); it != nativeIds_.end()) {
        handle = it->second;
    } else {
        handle = ++lastNative_;
        nativeIds_.emplace(object, handle);
        natives_.emplace(handle, Native{ComPtr<com::IDispatch>(object), identity, 0, {}});
    }
    ++natives_[handle].sent;
    return Value::nativeObject(handle);
}

Value BridgeConnection::toWire(const Variant& v, int depth) {
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
        return Value::fromR8(v.r8());
    case com::VT_DATE:
        return Value::date(v.r8());
    case com::VT_ARRAY | com::VT_UI1:
        return v.array() ? Value::fromBytes(v.array()->bytes) : Value::null();
    case com::VT_ARRAY | com::VT_VARIANT: {
        if (!v.array() || depth + 1 >= rpc::maxValueDepth)
            return Value::null();
        std::vector<Value> items;
        items.reserve(v.array()->variants.size());
        for (const Variant& item : v.array()->variants)
            items.push_back(toWire(item, depth + 1));
        return Value::list(std::move(items));
    }
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
    case com::VT_UI1 | com::VT_BYREF:
        // Bytes in place: a block of the shared memory reaches script as itself.
        if (shared_) {
            if (auto block = shared_->blockAt(v.byteRef()))
                return Value::sharedBytes(block->first, block->second);
        }
        return Value::empty();
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
    case Tag::Date:
        if (!std::isfinite(v.r8))
            break;
        out = Variant::fromDate(v.r8);
        return true;
    case Tag::String16:
        out = Variant::fromBstr(Bstr(v.text16));
        return true;
    case Tag::NativeObject: {
        ComPtr<com::IDispatch> object = nativeObject(v);
        if (!object) {
            error = errorValue(RPC_E_DISCONNECTED, disconnectedText);
            return false;
        }
        out = Variant::fromDispatch(object.get());
        return true;
    }
    case Tag::ScriptObject: {
        Variant made;
        {
            std::lock_guard lock(tables_);
            ScriptObject* wrapper = nullptr;
            if (auto it = wrappers_.find(v.handle); it != wrappers_.end()) {
                wrapper = it->second;
                made = Variant::fromDispatch(wrapper); // the reference is taken under the lock
            } else {
                auto created = com::makeObject<ScriptObject>(weak_from_this(), v.handle,
                                                             generation_.load(), thread_);
                wrapper = created.get();
                wrappers_.emplace(v.handle, wrapper);
                made = Variant::fromDispatch(wrapper);
                created.detach()->dropCreationReference(); // the variant holds it now
            }
            wrapper->received();
        }
        // Outside the lock: what `out` held may be a wrapper whose release needs it.
        out = std::move(made);
        return true;
    }
    case Tag::Error:
    case Tag::SharedBytes:
    case Tag::Bytes:
    case Tag::List:
    case Tag::Record:
        break;
    }
    error = errorValue(com::E_INVALIDARG);
    return false;
}

} // namespace norv::web
