#pragma once
// A ShellPlatform double for the application shell's unit tests: resources from maps,
// message boxes and window operations recorded in one event log, an internet session that
// records its registrations, and a message loop that runs a test-supplied body.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/HostWindow.h"
#include "app/InternetSession.h"
#include "app/OwnerWindow.h"
#include "app/ShellPlatform.h"
#include "platform/com/Exceptions.h"

namespace norv::app::test {

struct EventLog {
    std::vector<std::string> events;
    void add(std::string event) { events.push_back(std::move(event)); }
    bool contains(const std::string& event) const;
    // Position of the first event that starts with `prefix`; -1 when none.
    int indexOf(const std::string& prefix) const;
};

class FakeInternetSession final : public InternetSession {
public:
    explicit FakeInternetSession(EventLog& log) : log_(log) {}
    com::HRESULT registerNameSpace(std::shared_ptr<ProtocolHandlerFactory> factory,
                                   std::string_view protocol) override;
    com::HRESULT unregisterNameSpace(const ProtocolHandlerFactory* factory,
                                     std::string_view protocol) override;
    void handlersChanged() override { ++changes; }

    std::map<std::string, std::shared_ptr<ProtocolHandlerFactory>, std::less<>> registered;
    // Protocols whose registration fails, with the code.
    std::map<std::string, com::HRESULT, std::less<>> failures;
    int registrations = 0;
    int changes = 0;

private:
    EventLog& log_;
};

// What a host window had been given when it created itself, and its owner's state then.
struct WindowCreation {
    std::u16string address;
    std::u16string pendingCaption;
    std::string declaration;
    std::u16string optionKeyPath;
    bool splash = false;
    std::u16string ownerTitle;
    unsigned ownerIcon = 0;
    bool ownerShown = false;
    std::vector<std::string> registeredProtocols;
};

class FakeHostWindow final : public HostWindow {
public:
    FakeHostWindow(EventLog& log, const FakeInternetSession& session)
        : log_(log), session_(session) {
        log_.add("window.new");
    }
    ~FakeHostWindow() override { log_.add("window.delete"); }
    void navigate(const std::u16string& address) override;
    bool windowExists() const override { return created_; }
    void setPendingCaption(const std::u16string& caption) override;
    void setWindowText(const std::u16string& caption) override;
    void setDefaultDeclaration(const com::Bstr& declaration) override;
    void setOptionKeyPath(const std::u16string& path) override;
    void setSplash(bool splash) override;
    void createWithOwner(std::unique_ptr<HostWindow> self, OwnerWindow& owner) override;

    static std::vector<std::unique_ptr<HostWindow>>* liveWindows;
    static std::vector<WindowCreation>* creations;
    static bool failCreation;

private:
    EventLog& log_;
    const FakeInternetSession& session_;
    WindowCreation state_;
    bool created_ = false;
};

class FakeOwnerWindow final : public OwnerWindow {
public:
    explicit FakeOwnerWindow(EventLog& log) : log_(log) { log_.add("owner.new"); }
    ~FakeOwnerWindow() override { log_.add("owner.delete"); }
    void setTitle(const std::u16string& title) override;
    bool setIcon(unsigned id) override;
    void showNoActivate() override {
        log_.add("owner.show");
        shown = true;
    }

    std::u16string title;
    unsigned icon = 0;
    bool shown = false;

private:
    EventLog& log_;
};

class FakeShellPlatform final : public ShellPlatform {
public:
    FakeShellPlatform();
    ~FakeShellPlatform() override;

    std::optional<std::u16string> loadString(unsigned id) override;
    std::optional<std::array<std::uint16_t, 4>> fileVersion() override { return version; }
    void messageBox(const std::u16string& text) override;
    std::string defaultUserAgent() override;
    InternetSession& internetSession() override { return session; }
    std::u16string currentDirectory() override;
    std::unique_ptr<HostWindow> createHostWindow(com::ComPtr<TaviHost> host) override;
    std::unique_ptr<OwnerWindow> createOwnerWindow() override;
    int runMessageLoop() override;
    int lastQuitCode() const override { return quitCode; }

    EventLog log;
    FakeInternetSession session{log};
    std::map<unsigned, std::u16string> strings;
    std::optional<std::array<std::uint16_t, 4>> version = std::array<std::uint16_t, 4>{1, 5, 0, 0};
    std::string userAgent = "Product/1.0 (X11; Linux) Engine/2.0";
    bool failUserAgent = false;
    int userAgentFetches = 0;
    std::u16string cwd = u"/home/user/app";
    bool failOwner = false;
    std::vector<std::u16string> messages;
    // What the message loop does; by default the host windows close at once.
    std::function<void()> loopBody;
    int loops = 0;
    int quitCode = 0;
    std::vector<std::unique_ptr<HostWindow>> windows; // windows that exist
    std::vector<WindowCreation> creations;            // one per window created
    com::ComPtr<TaviHost> lastHost;
};

} // namespace norv::app::test
