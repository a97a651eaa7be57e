// The support pieces are used by every end-to-end test, so they are checked on their own:
// a broken harness would make the real tests fail for the wrong reason.
#include <gtest/gtest.h>

#include "tests/support/HttpServer.h"
#include "tests/support/Process.h"
#include "tests/support/XSession.h"

using namespace norv::test;

TEST(ProcessTest, ReportsExitCodeOutputAndSignals) {
    auto [code, out] = runCommand({"sh", "-c", "echo hello; exit 3"});
    EXPECT_EQ(code, 3);
    EXPECT_EQ(out, "hello\n");

    Process sleeper = Process::spawn({"sleep", "60"});
    EXPECT_TRUE(sleeper.running());
    EXPECT_FALSE(sleeper.wait(10ms).has_value());
    sleeper.signal(SIGTERM);
    EXPECT_EQ(sleeper.wait(), 128 + SIGTERM);
}

TEST(HttpServerTest, ServesPagesAndRecordsRequests) {
    HttpServer server;
    server.serve("/page", "<p>hi</p>");
    auto [code, out] =
        runCommand({"python3", "-c",
                    "import urllib.request,sys;"
                    "r=urllib.request.Request(sys.argv[1],headers={'User-Agent':'UA/1'});"
                    "print(urllib.request.urlopen(r).read().decode())",
                    server.url("/page?x=a%20b&y")});
    ASSERT_EQ(code, 0) << out;
    EXPECT_EQ(out, "<p>hi</p>\n");
    auto req = server.waitForPath("/page");
    ASSERT_TRUE(req);
    EXPECT_EQ(req->header("user-agent"), "UA/1");
    EXPECT_EQ(req->param("x"), "a b");
    EXPECT_EQ(req->param("y"), "");
    EXPECT_FALSE(req->param("z"));
}

TEST(HttpServerTest, AByteRangeGetsThoseBytesAndARangeBeyondTheEndIsRefused) {
    HttpServer server;
    server.serve("/clip", "0123456789", "video/webm");
    auto fetch = [&](const std::string& range) {
        return runCommand({"/usr/bin/python3", "-c",
                           "import urllib.request,urllib.error,sys\n"
                           "r=urllib.request.Request(sys.argv[1],headers={'Range':sys.argv[2]})\n"
                           "try:\n"
                           "  a=urllib.request.urlopen(r)\n"
                           "  print(a.status,a.headers.get('Content-Range'),a.read().decode())\n"
                           "except urllib.error.HTTPError as e:\n"
                           "  print(e.code,e.headers.get('Content-Range'))",
                           server.url("/clip"), range})
            .second;
    };
    EXPECT_EQ(fetch("bytes=4-"), "206 bytes 4-9/10 456789\n");
    EXPECT_EQ(fetch("bytes=2-3"), "206 bytes 2-3/10 23\n");
    EXPECT_EQ(fetch("bytes=8-100"), "206 bytes 8-9/10 89\n");
    EXPECT_EQ(fetch("bytes=10-"), "416 bytes */10\n");
}

TEST(HttpServerTest, AHeldPathIsSeenAtOnceAndAnsweredOnlyOnceReleasedWhileOthersAreServed) {
    HttpServer server;
    server.serve("/slow", "slow");
    server.serve("/fast", "fast");
    server.hold("/slow");
    auto fetch = [&](const std::string& path) {
        return Process::spawn(
            {"python3", "-c",
             "import urllib.request,sys;print(urllib.request.urlopen(sys.argv[1]).read().decode())",
             server.url(path)});
    };
    Process slow = fetch("/slow");
    ASSERT_TRUE(server.waitForPath("/slow"));
    auto [code, out] = runCommand(
        {"python3", "-c",
         "import urllib.request,sys;print(urllib.request.urlopen(sys.argv[1]).read().decode())",
         server.url("/fast")});
    EXPECT_EQ(out, "fast\n");
    EXPECT_TRUE(slow.running());
    server.release("/slow");
    EXPECT_EQ(slow.wait(), 0);
    EXPECT_EQ(slow.output(), "slow\n");
}

TEST(XSessionTest, StartsServerWithWindowManager) {
    XSession x;
    auto [code, out] = x.run({"xprop", "-root", "_NET_SUPPORTED"});
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("_NET_FRAME_EXTENTS"), std::string::npos) << out;
}
