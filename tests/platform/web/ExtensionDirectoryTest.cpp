// Where a program's web processes load the bridge from: beside the executable (the build
// tree) or in the private library folder relative to it (an installed program), in folder
// trees laid out as the build and the install rules lay them out.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/web/ScriptBridge.h"
#include "tests/support/Process.h"

namespace norv::web {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInstalled = "../lib/x86_64-linux-gnu/norv-view";

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "ELF";
}

TEST(ExtensionDirectoryTest, BesideTheExecutableElseThePrivateFolderRelativeToIt) {
    test::TempDir prefix;
    const fs::path bin = prefix.path() / "bin";
    const fs::path lib = prefix.path() / "lib/x86_64-linux-gnu/norv-view";
    fs::create_directories(bin);

    // Nowhere yet.
    EXPECT_EQ(ScriptBridge::findExtensionDirectory(bin, kInstalled), "");

    // Installed: found through the relative path, written without "..".
    touch(lib / ScriptBridge::extensionFileName);
    EXPECT_EQ(ScriptBridge::findExtensionDirectory(bin, kInstalled), lib.string());
    EXPECT_EQ(ScriptBridge::findExtensionDirectory(bin, ""), "");

    // The build tree puts it beside the executable, which wins.
    touch(bin / ScriptBridge::extensionFileName);
    EXPECT_EQ(ScriptBridge::findExtensionDirectory(bin, kInstalled), bin.string());
}

TEST(ExtensionDirectoryTest, OnlyARegularFileIsTheExtension) {
    test::TempDir prefix;
    const fs::path bin = prefix.path() / "bin";
    fs::create_directories(bin / ScriptBridge::extensionFileName);
    fs::create_directories(prefix.path() / "lib/x86_64-linux-gnu/norv-view" /
                           ScriptBridge::extensionFileName);
    EXPECT_EQ(ScriptBridge::findExtensionDirectory(bin, kInstalled), "");
}

} // namespace
} // namespace norv::web
