#include "platform/web/ScriptBridge.h"

#include <gio/gunixfdlist.h>
#include <webkit2/webkit2.h>

#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "platform/web/BridgeConnection.h"
#include "platform/web/ScriptObject.h"
#include "platform/web/rpc/Message.h"

namespace norv::web {

using com::Bstr;
using com::ComPtr;
using com::HRESULT;
using com::Variant;

namespace {
constexpr const char* preparedKey = "norv-bridge-extension-directory";
// On a view: its request user agent (a string), and the bridge attached to it.
constexpr const char* userAgentKey = "norv-bridge-request-user-agent";
constexpr const char* bridgeKey = "norv-bridge";

const char* requestUserAgentOf(WebKitWebView* view) {
    auto* text = static_cast<const char*>(g_object_get_data(G_OBJECT(view), userAgentKey));
    return text ? text : "";
}

std::string executableDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

bool holdsExtension(const std::filesystem::path& directory) {
    std::error_code ec;
    return std::filesystem::is_regular_file(directory / ScriptBridge::extensionFileName, ec);
}

void initializeExtensions(WebKitWebContext* context, gpointer) {
    auto* directory = static_cast<const char*>(g_object_get_data(G_OBJECT(context), preparedKey));
    webkit_web_context_set_web_extensions_directory(context, directory);
    webkit_web_context_set_web_extensions_initialization_user_data(
        context, g_variant_new_uint32(rpc::protocolVersion));
}
} // namespace

class ScriptBridge::Impl final : public BridgeConnection::Host,
                                 public std::enable_shared_from_this<ScriptBridge::Impl> {
public:
    explicit Impl(WebKitWebView* view) : view_(view), thread_(std::this_thread::get_id()) {
        g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
        handler_ = g_signal_connect(view_, "user-message-received",
                                    G_CALLBACK(&Impl::onUserMessage), this);
        g_object_set_data(G_OBJECT(view_), bridgeKey, this);
        // A document restored from the page cache would come back without its window
        // object being made ready, with proxies whose objects are gone: every shown
        // document must get a fresh bridge.
        webkit_settings_set_enable_page_cache(webkit_web_view_get_settings(view_), FALSE);
    }

    ~Impl() { detach(); }

    // Lets go of the view and the page. Also done when the bridge goes while a call of
    // its own still runs on the stack (which then keeps this alive until it returns).
    void detach() {
        if (view_) {
            if (g_object_get_data(G_OBJECT(view_), bridgeKey) == this)
                g_object_set_data(G_OBJECT(view_), bridgeKey, nullptr);
            g_signal_handler_disconnect(view_, handler_);
            g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
            view_ = nullptr;
        }
        disconnect(false);
    }

    // `notify`: the host hears of the elements released with the page (not when the
    // bridge itself goes away).
    void disconnect(bool notify) {
        if (auto c = std::exchange(connection_, nullptr)) {
            if (!notify)
                c->detachHost();
            c->close();
            c->detachHost();
        }
    }

    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
        if (g_strcmp0(webkit_user_message_get_name(message), rpc::connectMessageName) != 0)
            return FALSE;
        auto* impl = static_cast<Impl*>(self);
        GVariant* parameters = webkit_user_message_get_parameters(message);
        GUnixFDList* fds = webkit_user_message_get_fd_list(message);
        if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT32) ||
            g_variant_get_uint32(parameters) != rpc::protocolVersion || !fds ||
            g_unix_fd_list_get_length(fds) != 1) {
            g_warning("norv-bridge: the web process offered an unusable connection");
            return TRUE; // refused: dropping the message closes the page's socket
        }
        int fd = g_unix_fd_list_get(fds, 0, nullptr);
        if (fd < 0)
            return TRUE;
        // A page that connects again (a new web process after a cross-site navigation)
        // replaces the old connection and everything it held.
        impl->disconnect(true);
        impl->connection_ = std::make_shared<BridgeConnection>(fd, impl);
        impl->connection_->start();
        g_debug("bridge: a web process connected");
        // Right after the greeting, so the page has it before its document connects.
        if (const char* agent = requestUserAgentOf(impl->view_); *agent)
            impl->connection_->sendUserAgent(agent);
        return TRUE;
    }

    void documentReady(const Bstr& url) override {
        // Each call below runs the main loop, and the page may call native code: the
        // bridge may be destroyed or reconnected meanwhile. Stop once this connection
        // is no longer the bridge's.
        auto self = shared_from_this();
        auto connection = connection_;
        if (!connection)
            return;
        if (!initScript_.empty())
            connection->runScript(initScript_, nullptr);
        auto bound = bound_; // the handler may change the registrations
        for (auto& [path, value] : bound) {
            if (connection_ != connection)
                return;
            connection->setPath(path, Variant::fromDispatch(value.get()));
        }
        if (connection_ != connection)
            return;
        g_debug("bridge: window.tavi ready in %s", url.toUtf8().c_str());
        if (auto handler = ready_)
            handler(url);
    }

    bool scriptError(const ScriptError& error) override {
        if (auto handler = error_)
            return handler(error);
        return true;
    }

    HRESULT windowCall(WindowCall call, std::int32_t x, std::int32_t y) override {
        auto self = shared_from_this();
        if (auto handler = window_)
            return handler(call, x, y);
        return com::S_OK;
    }

    HRESULT createElement(ElementId id, const com::CLSID& clsid, ElementObject& out) override {
        if (auto create = elements_.create)
            return create(id, clsid, out);
        return com::E_NOTIMPL;
    }

    void elementBox(ElementId id, const ElementBox& box) override {
        if (auto handler = elements_.box)
            handler(id, box);
    }

    void elementReleased(ElementId id) override {
        if (auto handler = elements_.released)
            handler(id);
    }

    bool onOwnThread() const { return std::this_thread::get_id() == thread_; }

    WebKitWebView* view_;
    gulong handler_ = 0;
    std::thread::id thread_;
    std::u16string initScript_;
    std::vector<std::pair<std::u16string, ComPtr<com::IDispatch>>> bound_;
    std::function<void(const Bstr&)> ready_;
    std::function<bool(const ScriptError&)> error_;
    std::function<HRESULT(WindowCall, std::int32_t, std::int32_t)> window_;
    ElementHandlers elements_;
    std::shared_ptr<BridgeConnection> connection_;
};

std::string ScriptBridge::findExtensionDirectory(const std::string& executableDirectory,
                                                 const std::string& installedDirectory) {
    const std::filesystem::path executable(executableDirectory);
    if (holdsExtension(executable))
        return executable.string();
    if (installedDirectory.empty())
        return {};
    const auto installed = (executable / installedDirectory).lexically_normal();
    if (holdsExtension(installed))
        return installed.string();
    return {};
}

std::string ScriptBridge::programExtensionDirectory() {
    const std::string executable = executableDirectory();
    std::string found = findExtensionDirectory(executable, NORV_BRIDGE_RELATIVE_DIR);
    if (found.empty()) {
        g_warning("the script bridge %s is neither in %s nor in %s: pages get no window.tavi",
                  extensionFileName, executable.c_str(),
                  (std::filesystem::path(executable) / NORV_BRIDGE_RELATIVE_DIR)
                      .lexically_normal()
                      .c_str());
        return executable;
    }
    return found;
}

void ScriptBridge::describeRecord(const com::RecordInfo& record) {
    BridgeConnection::describeRecord(record);
}

void ScriptBridge::prepareContext(WebKitWebContext* context,
                                  const std::string& extensionDirectory) {
    if (!context || g_object_get_data(G_OBJECT(context), preparedKey))
        return;
    const std::string directory =
        extensionDirectory.empty() ? programExtensionDirectory() : extensionDirectory;
    g_debug("bridge: the web processes load %s from %s", extensionFileName, directory.c_str());
    g_object_set_data_full(G_OBJECT(context), preparedKey, g_strdup(directory.c_str()), g_free);
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(initializeExtensions),
                     nullptr);
}

HRESULT ScriptBridge::setRequestUserAgent(WebKitWebView* view, std::string_view text) {
    if (!view)
        return com::E_INVALIDARG;
    auto* impl = static_cast<Impl*>(g_object_get_data(G_OBJECT(view), bridgeKey));
    if (impl && !impl->onOwnThread())
        return RPC_E_WRONG_THREAD;
    const bool valid = rpc::isHeaderText(com::utf8ToUtf16(text));
    const std::string kept = valid ? std::string(text) : std::string();
    g_object_set_data_full(G_OBJECT(view), userAgentKey, g_strndup(kept.data(), kept.size()),
                           g_free);
    if (impl && impl->connection_)
        impl->connection_->sendUserAgent(kept);
    return valid ? com::S_OK : com::E_INVALIDARG;
}

ScriptBridge::ScriptBridge(WebKitWebView* view) : impl_(std::make_shared<Impl>(view)) {}

ScriptBridge::~ScriptBridge() {
    impl_->detach();
}

HRESULT ScriptBridge::frameDocument(com::IDispatch* frameElement,
                                    ComPtr<com::IDispatch>* document) {
    if (!document)
        return com::E_POINTER;
    *document = nullptr;
    if (!frameElement)
        return com::E_INVALIDARG;
    ComPtr<ScriptObject> element;
    if (com::failed(frameElement->QueryInterface(ScriptObject::privateIid, element.putVoid())))
        return com::E_NOINTERFACE;
    auto connection = element->connection().lock();
    if (!connection || !connection->isCurrent(element->generation()))
        return RPC_E_DISCONNECTED;
    if (!connection->onOwnThread())
        return RPC_E_WRONG_THREAD;
    Variant result;
    HRESULT hr = connection->scriptAction(element->id(), element->generation(),
                                          BridgeConnection::ScriptAction::FrameDocument, {}, false,
                                          {}, &result, nullptr, BridgeConnection::noDeadline);
    if (com::failed(hr))
        return hr;
    if (result.vt() == com::VT_DISPATCH)
        *document = result.dispatch();
    return com::S_OK;
}

void ScriptBridge::setInitScript(std::u16string script) {
    impl_->initScript_ = std::move(script);
}

void ScriptBridge::bindScriptValue(std::u16string path, ComPtr<com::IDispatch> value) {
    auto& bound = impl_->bound_;
    for (auto it = bound.begin(); it != bound.end(); ++it) {
        if (it->first == path) {
            if (value)
                it->second = std::move(value);
            else
                bound.erase(it);
            return;
        }
    }
    if (value)
        bound.emplace_back(std::move(path), std::move(value));
}

void ScriptBridge::setScriptWindowReadyHandler(std::function<void(const Bstr& url)> handler) {
    impl_->ready_ = std::move(handler);
}

void ScriptBridge::setScriptErrorHandler(std::function<bool(const ScriptError&)> handler) {
    impl_->error_ = std::move(handler);
}

void ScriptBridge::setWindowCallHandler(
    std::function<HRESULT(WindowCall call, std::int32_t x, std::int32_t y)> handler) {
    impl_->window_ = std::move(handler);
}

void ScriptBridge::setElementHandlers(ElementHandlers handlers) {
    impl_->elements_ = std::move(handlers);
}

std::size_t ScriptBridge::liveElements() const {
    return impl_->connection_ ? impl_->connection_->liveElements() : 0;
}

bool ScriptBridge::hasScriptWindow() const {
    return impl_->connection_ && impl_->connection_->hasDocument();
}

HRESULT ScriptBridge::runScript(std::u16string_view code, Variant* result) {
    if (!impl_->onOwnThread())
        return RPC_E_WRONG_THREAD;
    auto connection = impl_->connection_;
    if (!connection)
        return com::E_ACCESSDENIED;
    return connection->runScript(code, result);
}

HRESULT ScriptBridge::setScriptValue(std::u16string_view path, const Variant& value) {
    if (!impl_->onOwnThread())
        return RPC_E_WRONG_THREAD;
    auto connection = impl_->connection_;
    if (!connection)
        return com::E_ACCESSDENIED;
    return connection->setPath(path, value);
}

std::shared_ptr<void> ScriptBridge::holdWorkerCalls() {
    auto connection = impl_->connection_;
    if (!connection)
        return nullptr;
    return std::make_shared<BridgeConnection::WorkerHold>(connection->holdWorkerCalls());
}

std::shared_ptr<rpc::SharedArea> ScriptBridge::sharedMemory() const {
    return impl_->connection_ ? impl_->connection_->sharedArea() : nullptr;
}

std::size_t ScriptBridge::liveNativeObjects() const {
    return impl_->connection_ ? impl_->connection_->liveNativeObjects() : 0;
}

std::size_t ScriptBridge::liveScriptObjects() const {
    return impl_->connection_ ? impl_->connection_->liveScriptObjects() : 0;
}

} // namespace norv::web
