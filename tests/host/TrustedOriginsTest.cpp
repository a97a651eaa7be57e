// Which top documents get native access: the decision that keeps window.tavi (and with it
// run(), the settings and file writes) away from pages of unknown origins.
#include <gtest/gtest.h>

#include "host/TrustedOrigins.h"

using norv::host::TrustedOrigins;

TEST(TrustedOriginsTest, TheStartupOriginIsTrustedWhateverThePathAndNothingThatOnlyLooksLikeIt) {
    TrustedOrigins trusted("https://app.example.com/start/index.html", {});
    for (const char* same : {"https://app.example.com/", "https://APP.Example.com/other?q=1#f",
                             "https://app.example.com:443/x", "HTTPS://app.example.com/x",
                             "blob:https://app.example.com/6d7e1f1a-0c9e-4a53-9f4b-0e3c2b8b1c2d"})
        EXPECT_TRUE(trusted.isTrusted(same)) << same;
    for (const char* other :
         {"http://app.example.com/", "https://app.example.com:8443/",
          "https://app.example.com.evil.com/", "https://evil.com/?https://app.example.com/",
          "https://app.example.com@evil.com/", "https://evil.com/app.example.com",
          "blob:https://evil.com/6d7e1f1a", "data:text/html,<p>x</p>", "about:blank",
          "javascript:alert(1)", "", "app.example.com", "file:///etc/passwd"})
        EXPECT_FALSE(trusted.isTrusted(other)) << other;
}

TEST(TrustedOriginsTest, TheProgramsOwnResourcesAndTheNamedOriginsAreTrusted) {
    TrustedOrigins trusted(
        "https://app.example.com/",
        TrustedOrigins::parseList(" https://cdn.example.com, http://localhost:8080;;not an origin "
                                  "data:text/plain,x  https://api.example.com/any/path "));
    for (const char* ok :
         {"res:///DEMO.HTM", "res:///opt/norv/norv-view/CONNECTIONERROR.HTM",
          "https://cdn.example.com/lib.js", "http://localhost:8080/", "https://api.example.com/"})
        EXPECT_TRUE(trusted.isTrusted(ok)) << ok;
    for (const char* no : {"http://localhost/", "http://localhost:8081/", "https://example.com/"})
        EXPECT_FALSE(trusted.isTrusted(no)) << no;
}

TEST(TrustedOriginsTest, ALocalStartupTrustsLocalFilesAndAnAddressWithoutOriginTrustsNothingMore) {
    TrustedOrigins local("file:///home/user/app/start.htm", {});
    EXPECT_TRUE(local.isTrusted("file:///home/user/app/other.htm"));
    EXPECT_FALSE(local.isTrusted("http://127.0.0.1:8000/"));

    TrustedOrigins none("data:text/html,<p>start</p>", {});
    EXPECT_FALSE(none.isTrusted("data:text/html,<p>start</p>"));
    EXPECT_TRUE(none.isTrusted("res:///DEMO.HTM"));

    EXPECT_EQ(TrustedOrigins::originOf("http://Example.COM:80/a"), "http://example.com");
    EXPECT_EQ(TrustedOrigins::originOf("https://example.com:8443/a"), "https://example.com:8443");
    EXPECT_EQ(TrustedOrigins::originOf("http:///no-host"), std::nullopt);
}
