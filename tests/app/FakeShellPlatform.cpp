#include "tests/app/FakeShellPlatform.h"

#include "app/TaviHost.h"

namespace norv::app::test {

std::vector<std::unique_ptr<HostWindow>>* FakeHostWindow::liveWindows = nullptr;
std::vector<WindowCreation>* FakeHostWindow::creations = nullptr;
bool FakeHostWindow::failCreation = false;

bool EventLog::contains(const std::string& event) const {
    for (const auto& e : events) {
        if (e == event)
            return true;
    }
    return false;
}

int EventLog::indexOf(const std::string& prefix) const {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].starts_with(prefix))
            return static_cast<int>(i);
    }
    return -1;
}

com::HRESULT FakeInternetSession::registerNameSpace(std::shared_ptr<ProtocolHandlerFactory> factory,
                                                    std::string_view protocol) {
    log_.add("session.register " + std::string(protocol) + " " +
             factory->wrappedClass().toString());
    ++registrations;
    if (auto it = failures.find(protocol); it != failures.end())
        return it->second;
    registered.insert_or_assign(std::string(protocol), std::move(factory));
    return com::S_OK;
}

com::HRESULT FakeInternetSession::unregisterNameSpace(const ProtocolHandlerFactory* factory,
                                                      std::string_view protocol) {
    log_.add("session.unregister " + std::string(protocol));
    auto it = registered.find(protocol);
    if (it == registered.end() || it->second.get() != factory)
        return com::E_INVALIDARG;
    registered.erase(it);
    return com::S_OK;
}

void FakeHostWindow::navigate(const std::u16string& address) {
    log_.add("window.navigate " + com::utf16ToUtf8(address));
    state_.address = address;
}
void FakeHostWindow::setPendingCaption(const std::u16string& caption) {
    log_.add("window.pendingCaption " + com::utf16ToUtf8(caption));
    state_.pendingCaption = caption;
}
void FakeHostWindow::setWindowText(const std::u16string& caption) {
    log_.add("window.text " + com::utf16ToUtf8(caption));
}
void FakeHostWindow::setDefaultDeclaration(const com::Bstr& declaration) {
    log_.add("window.declaration " + declaration.toUtf8());
    state_.declaration = declaration.toUtf8();
}
void FakeHostWindow::setOptionKeyPath(const std::u16string& path) {
    log_.add("window.optionKeyPath " + com::utf16ToUtf8(path));
    state_.optionKeyPath = path;
}
void FakeHostWindow::setSplash(bool splash) {
    log_.add(splash ? "window.splash on" : "window.splash off");
    state_.splash = splash;
}
void FakeHostWindow::createWithOwner(std::unique_ptr<HostWindow> self, OwnerWindow& owner) {
    if (failCreation)
        throw com::OleException(com::E_HANDLE);
    log_.add("window.create");
    created_ = true;
    WindowCreation creation = state_;
    if (auto* fake = dynamic_cast<FakeOwnerWindow*>(&owner)) {
        creation.ownerTitle = fake->title;
        creation.ownerIcon = fake->icon;
        creation.ownerShown = fake->shown;
    }
    for (const auto& [protocol, factory] : session_.registered)
        creation.registeredProtocols.push_back(protocol);
    creations->push_back(std::move(creation));
    liveWindows->push_back(std::move(self));
}

void FakeOwnerWindow::setTitle(const std::u16string& text) {
    log_.add("owner.title " + com::utf16ToUtf8(text));
    title = text;
}
bool FakeOwnerWindow::setIcon(unsigned id) {
    log_.add("owner.icon " + std::to_string(id));
    icon = id;
    return true;
}

FakeShellPlatform::FakeShellPlatform() {
    FakeHostWindow::liveWindows = &windows;
    FakeHostWindow::creations = &creations;
    FakeHostWindow::failCreation = false;
}

FakeShellPlatform::~FakeShellPlatform() {
    windows.clear();
    FakeHostWindow::liveWindows = nullptr;
    FakeHostWindow::creations = nullptr;
}

std::optional<std::u16string> FakeShellPlatform::loadString(unsigned id) {
    auto it = strings.find(id);
    if (it == strings.end())
        return std::nullopt;
    return it->second;
}

void FakeShellPlatform::messageBox(const std::u16string& text) {
    log.add("messageBox " + com::utf16ToUtf8(text));
    messages.push_back(text);
}

std::string FakeShellPlatform::defaultUserAgent() {
    ++userAgentFetches;
    if (failUserAgent)
        throw com::OleException(com::E_ACCESSDENIED);
    return userAgent;
}

std::u16string FakeShellPlatform::currentDirectory() {
    return cwd;
}

std::unique_ptr<HostWindow> FakeShellPlatform::createHostWindow(com::ComPtr<TaviHost> host) {
    lastHost = std::move(host);
    return std::make_unique<FakeHostWindow>(log, session);
}

std::unique_ptr<OwnerWindow> FakeShellPlatform::createOwnerWindow() {
    if (failOwner)
        throw com::OleException(com::hresultFromWin32(com::ERROR_NOT_ENOUGH_MEMORY));
    return std::make_unique<FakeOwnerWindow>(log);
}

int FakeShellPlatform::runMessageLoop() {
    ++loops;
    log.add("loop.run");
    if (loopBody)
        loopBody();
    // The last host window goes, and with it the loop.
    windows.clear();
    log.add("loop.end");
    return quitCode;
}

} // namespace norv::app::test
