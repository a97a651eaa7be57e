#include "app/Application.h"

#include "app/ShellPlatform.h"
#include "app/TaviHost.h"
#include "app/TaviUISettings.h"
#include "app/UserAgent.h"
#include "markup/DefaultDeclaration.h"
#include "platform/com/Exceptions.h"
#include "platform/com/WhiteSpace.h"

namespace norv::app {

namespace {

constexpr unsigned IDS_STARTUP_URI = 132;
constexpr unsigned IDS_CAPTION = 133;

// Win32 errors of a resource that is not in the program file.
constexpr std::uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr std::uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

} // namespace

Application::Application(ShellPlatform& platform) : platform_(platform) {}

int Application::initInstance(std::span<const std::string> /*arguments*/) {
    // No option is acted upon: a process started with "-r" starts like any other.
    return startup();
}

std::u16string Application::loadStartupUri(ShellPlatform& platform) {
    auto text = platform.loadString(IDS_STARTUP_URI);
    if (!text)
        throw com::OleException(com::hresultFromWin32(ERROR_RESOURCE_NAME_NOT_FOUND),
                                u"The specified resource name cannot be found in the image "
                                u"file.");
    return *text;
}

std::u16string Application::loadCaption(ShellPlatform& platform) {
    auto text = platform.loadString(IDS_CAPTION);
    if (!text)
        return u"Norv View";
    return std::u16string(com::trimWhiteSpace(*text));
}

std::string Application::userAgentToken(ShellPlatform& platform) {
    auto version = platform.fileVersion();
    if (!version)
        throw com::OleException(com::hresultFromWin32(ERROR_RESOURCE_TYPE_NOT_FOUND),
                                u"The specified resource type cannot be found in the image "
                                u"file.");
    return versionToken(*version);
}

int Application::startup() {
    com::ComPtr<TaviHost> host;
    com::ComPtr<typelib::ITaviUISettings> settings;
    try {
        if (com::failed(TaviHost::create(platform_, host)))
            return 0;
        if (com::failed(host->get_uiSettings(settings.put())))
            return 0;
        settings->put_errorDialogURI(com::Bstr(u"CONNECTIONERROR.HTM"));
        settings->put_splashScreenURI(com::Bstr(u"STARTUPSPLASH.HTM"));

        std::string token = userAgentToken(platform_);
        if (com::failed(host->put_userAgentProperties(com::Bstr::fromUtf8(token))))
            return 0;

        // The default declaration: the built-in one read into a window description and
        // written back; without a description the host keeps its empty default.
        com::Bstr declaration = markup::builtinDialogDeclaration();
        if (!declaration.isNull())
            settings->put_dialogSettingsDefault(declaration);

        std::u16string startupUri = loadStartupUri(platform_);
        std::u16string caption = loadCaption(platform_);
        host->run(com::Bstr(startupUri), com::Bstr(caption));
    } catch (const com::FrameworkException& e) {
        platform_.messageBox(e.message());
    } catch (const std::bad_alloc&) {
        platform_.messageBox(com::MemoryException().message());
    }
    return 0;
}

} // namespace norv::app
