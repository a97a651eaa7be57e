// The skin package of a real process: one package of the skin text in $TMPDIR while the
// process runs, whatever number of settings parts it has, and nothing left once it has
// ended, normally or by a signal.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "media/player/SkinPackage.h"
#include "tests/support/Process.h"

using namespace norv::test;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
        files.push_back(entry.path());
    return files;
}

// The package's entries as Python's zipfile reads them: "name size" lines, then the
// first entry's bytes.
std::string readWithZipfile(const fs::path& package) {
    auto [code, out] = runCommand({"/usr/bin/python3", "-c",
                                   "import sys, zipfile\n"
                                   "z = zipfile.ZipFile(sys.argv[1])\n"
                                   "assert z.testzip() is None\n"
                                   "for i in z.infolist(): print(i.filename, i.file_size)\n"
                                   "sys.stdout.write(z.read(z.namelist()[0]).decode('latin-1'))\n",
                                   package.string()});
    EXPECT_EQ(code, 0) << out;
    return out;
}

} // namespace

TEST(SkinPackageProcess, OnePackageWhileTheProcessRunsAndNoneAfterItEnds) {
    for (int ending : {SIGUSR1, SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(ending));
        TempDir tmp;
        // One run also has a forked child exit first: the package is the parent's.
        const bool fork = ending == SIGTERM;
        std::vector<std::string> argv = {(executableDir() / "skin_package_probe").string()};
        if (fork)
            argv.push_back("fork");
        Process probe = Process::spawn(argv, {{"TMPDIR", tmp.path().string()}});
        ASSERT_TRUE(
            waitUntil([&] { return probe.output().find("ready") != std::string::npos; }, 20s))
            << probe.output();
        auto files = filesIn(tmp.path());
        ASSERT_EQ(files.size(), 1u);
        const fs::path package = files[0];
        EXPECT_EQ(package.filename().string().substr(0, 3), "TFR");
        EXPECT_EQ(package.extension(), ".wmz");
        EXPECT_EQ(probe.output(), (fork ? "child exited\n" : "") + package.string() + "\nready\n");
        EXPECT_EQ(readWithZipfile(package),
                  "wmpsrv.wms 125\n" + std::string(norv::media::SkinPackage::kSkinText));

        probe.signal(ending);
        std::optional<int> code = probe.wait(20s);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code, ending == SIGUSR1 ? 0 : 128 + ending);
        EXPECT_TRUE(filesIn(tmp.path()).empty());
    }
}
