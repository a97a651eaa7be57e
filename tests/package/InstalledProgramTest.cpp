// The program as the Debian package installs it: the demo comes up on the desktop as the
// desktop entry describes it, with the bridge from the program's private library folder,
// and a page's script sees window.tavi. Run by tools/test-package.sh with the package
// installed; each test starts its own X server, window manager and session bus.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "tests/support/HttpServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

namespace norv::test {
namespace {

namespace fs = std::filesystem;

// The keys of a desktop entry's [Desktop Entry] group.
std::map<std::string, std::string> desktopEntry(const fs::path& file) {
    std::map<std::string, std::string> keys;
    std::ifstream in(file);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("["))
            inGroup = line == "[Desktop Entry]";
        else if (inGroup && line.find('=') != std::string::npos)
            keys[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
    return keys;
}

class InstalledProgramTest : public ::testing::Test {
protected:
    Process start(Env extra = {}) {
        Env env = x.env();
        env.emplace_back("DBUS_SESSION_BUS_ADDRESS", bus.address());
        env.insert(env.end(), extra.begin(), extra.end());
        return Process::spawn({NORV_INSTALLED_PROGRAM}, env);
    }

    XSession x;
    PrivateBus bus;
};

TEST_F(InstalledProgramTest, TheDemoComesUpAsTheDesktopEntryDescribesItWithItsBridge) {
    const auto entry = desktopEntry(NORV_INSTALLED_DESKTOP_ENTRY);
    ASSERT_FALSE(entry.empty()) << NORV_INSTALLED_DESKTOP_ENTRY;
    EXPECT_EQ(entry.at("Exec"), fs::path(NORV_INSTALLED_PROGRAM).filename().string());
    for (const char* size : {"16x16", "48x48", "256x256"})
        EXPECT_TRUE(fs::is_regular_file(fs::path(NORV_INSTALLED_ICONS) / size / "apps" /
                                        (entry.at("Icon") + ".png")))
            << size;

    Process shell = start({{"G_MESSAGES_DEBUG", "norv-view"}});
    ASSERT_TRUE(waitUntil([&] {
        return shell.output().find("bridge: window.tavi ready in res:///DEMO.HTM") !=
               std::string::npos;
    })) << shell.output();
    std::vector<std::string> windows;
    ASSERT_TRUE(waitUntil([&] {
        windows = x.findWindows("^" + entry.at("Name") + "$");
        return windows.size() == 1;
    })) << shell.output();

    // The window manager and the desktop match the window to the entry by its class.
    auto [code, wmClass] = x.run({"xprop", "-id", windows.front(), "WM_CLASS"});
    EXPECT_NE(wmClass.find(", \"" + entry.at("StartupWMClass") + "\"\n"), std::string::npos)
        << wmClass;

    // The web processes loaded the bridge from the program's private folder, not from
    // beside the executable.
    const std::regex loaded("load libnorv-bridge\\.so from ([^\n]+)\n");
    std::smatch match;
    const std::string out = shell.output();
    ASSERT_TRUE(std::regex_search(out, match, loaded)) << out;
    const fs::path folder = match[1].str();
    EXPECT_NE(folder, fs::path(NORV_INSTALLED_PROGRAM).parent_path());
    EXPECT_EQ(folder.filename(), "norv-view");
    EXPECT_TRUE(fs::is_regular_file(folder / "libnorv-bridge.so"));
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;

    shell.signal(SIGTERM);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

TEST_F(InstalledProgramTest, APagesScriptReachesTheHostThroughWindowTavi) {
    HttpServer server;
    server.serve("/check.html", "<!DOCTYPE html><script>var host = window.tavi.host;"
                                "fetch('/report?emulation=' + host.isEmulation + '&error=' +"
                                " encodeURIComponent(host.uiSettings.errorDialogURI));</script>");
    server.serve("/report", "ok", "text/plain");
    // The installed program carries the demo's address: GLib's resource overlay gives it
    // the test page's instead, the program itself stays as installed.
    TempDir overlay;
    std::ofstream(overlay.path() / "132") << server.url("/check.html");
    Process shell =
        start({{"G_RESOURCE_OVERLAYS", "/norv/strings/132=" + (overlay.path() / "132").string()}});

    auto report = server.waitForPath("/report");
    ASSERT_TRUE(report) << shell.output();
    EXPECT_EQ(report->param("emulation"), "false");
    EXPECT_EQ(report->param("error"), "CONNECTIONERROR.HTM");
    EXPECT_NE(report->header("user-agent").find("; Norv " NORV_VERSION ")"), std::string::npos)
        << report->header("user-agent");
    shell.signal(SIGTERM);
    EXPECT_EQ(shell.wait(), 0) << shell.output();
}

} // namespace
} // namespace norv::test
