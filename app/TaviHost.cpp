#include "app/TaviHost.h"

#include <new>

#include "app/HostWindow.h"
#include "app/InternetSession.h"
#include "app/OwnerWindow.h"
#include "app/ShellPlatform.h"
#include "platform/com/Exceptions.h"

namespace norv::app {

namespace {

constexpr unsigned kProgramIcon = 128;

} // namespace

TaviHost::TaviHost(ShellPlatform& platform)
    : platform_(platform), uiSettings_(com::makeObject<TaviUISettings>()),
      registrar_(platform.internetSession(), [this] { return userAgentForRequest(); }) {}

TaviHost::~TaviHost() = default;

com::HRESULT TaviHost::create(ShellPlatform& platform, com::ComPtr<TaviHost>& out) {
    try {
        out = com::makeObject<TaviHost>(platform);
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    return com::S_OK;
}

com::HRESULT TaviHost::get_application(com::IDispatch** out) {
    if (out == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    return application_.copyTo(out);
}

com::HRESULT TaviHost::put_application(com::IDispatch* value) {
    std::lock_guard lock(lock_);
    if (application_.get() != value)
        application_ = value;
    return com::S_OK;
}

com::HRESULT TaviHost::get_isEmulation(com::VARIANT_BOOL* out) {
    if (out == nullptr)
        return com::E_INVALIDARG;
    *out = com::VARIANT_FALSE;
    return com::S_OK;
}

com::HRESULT TaviHost::get_uiSettings(typelib::ITaviUISettings** out) {
    if (out == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    *out = uiSettings_.get();
    (*out)->AddRef();
    return com::S_OK;
}

com::HRESULT TaviHost::get_userAgentProperties(com::Bstr* out) {
    if (out == nullptr)
        return com::E_INVALIDARG;
    std::lock_guard lock(lock_);
    try {
        auto added = userAgent_.added();
        *out = added ? com::Bstr::fromUtf8(*added) : com::Bstr();
    } catch (const std::bad_alloc&) {
        return com::E_OUTOFMEMORY;
    }
    return com::S_OK;
}

com::HRESULT TaviHost::put_userAgentProperties(const com::Bstr& value) {
    std::lock_guard lock(lock_);
    try {
        // A text requests could not carry as it is (a control character, a character
        // above U+00FF, unbalanced parentheses) is refused before anything changes, so
        // that every request and navigator.userAgent keep agreeing.
        if (!userAgent_.assign(value.toUtf8(), [this] { return platform_.defaultUserAgent(); }))
            return com::E_INVALIDARG;
    } catch (const com::FrameworkException& e) {
        platform_.messageBox(e.message());
        return com::E_FAIL;
    } catch (const std::bad_alloc&) {
        platform_.messageBox(com::MemoryException().message());
        return com::E_FAIL;
    }
    registrar_.userAgentChanged();
    return com::S_OK;
}

std::u16string TaviHost::userAgentForRequest() {
    std::lock_guard lock(lock_);
    return com::utf8ToUtf16(userAgent_.requestText());
}

std::string TaviHost::userAgentProperties() {
    std::lock_guard lock(lock_);
    return userAgent_.properties();
}

com::HRESULT TaviHost::run(const com::Bstr& startupUri, const com::Bstr& caption) {
    std::unique_lock lock(lock_);
    if (startupUri.isEmpty())
        return com::E_INVALIDARG;
    return runGuarded(startupUri, caption, lock);
}

com::HRESULT TaviHost::runGuarded(const com::Bstr& startupUri, const com::Bstr& caption,
                                  std::unique_lock<std::recursive_mutex>& lock) {
    std::unique_ptr<HostWindow> window;
    std::unique_ptr<OwnerWindow> owner;
    try {
        com::HRESULT hr = registrar_.registerAll();
        if (com::failed(hr))
            throw com::OleException(hr);

        window = platform_.createHostWindow(com::ComPtr<TaviHost>(this));

        // A startup address that begins with a full stop is relative to the current
        // directory.
        std::u16string address(startupUri.view());
        if (address.front() == u'.')
            address = platform_.currentDirectory() + u"/" + address;
        window->navigate(address);

        std::u16string title(caption.view());
        if (window->windowExists())
            window->setWindowText(title);
        else
            window->setPendingCaption(title);

        com::Bstr declaration;
        com::HRESULT result = uiSettings_->get_dialogSettingsDefault(&declaration);
        if (com::succeeded(result))
            window->setDefaultDeclaration(declaration);

        window->setOptionKeyPath(kOptionKeyPath);
        lock.unlock();

        owner = platform_.createOwnerWindow();
        owner->setTitle(title);
        owner->setIcon(kProgramIcon);
        owner->showNoActivate();

        window->setSplash(true);
        HostWindow& created = *window;
        created.createWithOwner(std::move(window), *owner);

        platform_.runMessageLoop();
        owner.reset();
        return result;
    } catch (...) {
        if (lock.owns_lock())
            lock.unlock();
        std::u16string message;
        try {
            throw;
        } catch (const com::FrameworkException& e) {
            message = e.message();
        } catch (const std::bad_alloc&) {
            message = com::MemoryException().message();
        } catch (...) {
            message = com::messageForHResult(com::E_FAIL);
        }
        platform_.messageBox(message);
        window.reset();
        owner.reset();
        return com::E_FAIL;
    }
}

} // namespace norv::app
