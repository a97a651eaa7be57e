#pragma once
// The application: the whole life of the process happens inside its instance
// initialisation. It creates the host, fills its UI settings, gives it the user-agent
// token and the default window declaration, and runs it on the startup address (string
// 132) with the caption (string 133, or "Norv View").

#include <span>
#include <string>

namespace norv::app {

class ShellPlatform;

class Application {
public:
    explicit Application(ShellPlatform& platform);

    // The instance initialisation: the command line ("-r" included) is accepted and
    // ignored, then the start-up routine runs. Returns 0 in every case; the process's exit
    // code is the code of the last quit message.
    int initInstance(std::span<const std::string> arguments);

    // The start-up routine; returns 0 in every case.
    int startup();

    // String 132; raises an OLE exception when the program has none.
    static std::u16string loadStartupUri(ShellPlatform& platform);
    // String 133 without surrounding white space, or "Norv View".
    static std::u16string loadCaption(ShellPlatform& platform);
    // "Norv 1.5.0.0" from the program's version; raises an OLE exception when the program
    // carries no version.
    static std::string userAgentToken(ShellPlatform& platform);

private:
    ShellPlatform& platform_;
};

} // namespace norv::app
