#include "markup/Address.h"

#include <gtest/gtest.h>

#include "platform/glib/Owned.h"

namespace norv::markup {
namespace {

using namespace com;

struct Canonical {
    HRESULT hr;
    std::string text;
};

Canonical canon(const char* address) {
    Bstr out;
    HRESULT hr = canonicalise(Bstr::fromUtf8(address), out);
    return {hr, out.toUtf8()};
}

TEST(Canonicalise, NormalFormsOfAbsoluteAddresses) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTPS://Example.COM/A/../B/./c.htm#Frag", "https://example.com/B/c.htm#Frag"},
        {"https://example.com", "https://example.com/"},
        {"https://example.com:443/x", "https://example.com/x"},
        {"http://example.com/a b?q=x y", "http://example.com/a%20b?q=x%20y"},
        // Encoded reserved characters stay encoded; encoded unreserved ones are the same
        // characters either way and come out plain.
        {"http://example.com/a%2Fb?q=%41", "http://example.com/a%2Fb?q=A"},
        {"file:///home/u/./x/../start.htm", "file:///home/u/start.htm"},
        {"res:///usr/bin/norv/STARTUPSPLASH.HTM", "res:///usr/bin/norv/STARTUPSPLASH.HTM"},
        {"about:blank", "about:blank"},
    };
    for (const auto& [address, expected] : cases) {
        Canonical c = canon(address);
        EXPECT_EQ(c.hr, S_FALSE) << address;
        EXPECT_EQ(c.text, expected) << address;
    }
}

TEST(Canonicalise, AbsoluteFilePathBecomesAFileUrl) {
    Canonical c = canon("/home/user/./pages/../start.htm");
    EXPECT_EQ(c.hr, S_FALSE);
    EXPECT_EQ(c.text, "file:///home/user/start.htm");
    c = canon("/tmp/my pages/start.htm");
    EXPECT_EQ(c.hr, S_FALSE);
    EXPECT_EQ(c.text, "file:///tmp/my%20pages/start.htm");
}

TEST(Canonicalise, RelativeAndShortAddressesAreBadPaths) {
    Canonical c = canon("./start.htm");
    EXPECT_EQ(c.hr, E_BAD_PATHNAME);
    EXPECT_EQ(c.text, "./start.htm") << "the text is still delivered";
    c = canon("pages/start page.htm");
    EXPECT_EQ(c.hr, E_BAD_PATHNAME);
    EXPECT_EQ(c.text, "pages/start%20page.htm");
    EXPECT_EQ(canon("x:y").hr, E_BAD_PATHNAME);   // one character after the colon
    EXPECT_EQ(canon("ab:cd").hr, E_BAD_PATHNAME); // two
    EXPECT_EQ(canon("ab").hr, E_BAD_PATHNAME);
    EXPECT_EQ(canon("http://example.com/a/.\\b").hr, E_BAD_PATHNAME);
    // Short once the dot segments are gone: no canonical form either, but the text.
    c = canon("v:./1/");
    EXPECT_EQ(c.hr, E_BAD_PATHNAME);
    EXPECT_EQ(c.text, "v:1/");
    Bstr out;
    EXPECT_EQ(canonicalise(Bstr(), out), E_INVALIDARG);
}

TEST(Canonicalise, UnparsableAddressesFail) {
    EXPECT_EQ(canon("https://example.com/%zz").hr, E_INVALID_URL);
    EXPECT_EQ(canon("/tmp/100%.htm").hr, E_INVALID_URL);
}

// The host GLib's own parser reads in a text, decoded (as a browser does), in lower case.
std::string hostOf(const std::string& text) {
    glib::OwnedUri uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
    const char* host = uri ? g_uri_get_host(uri.get()) : nullptr;
    glib::OwnedText lower(g_ascii_strdown(host ? host : "(none)", -1));
    return lower.get();
}

TEST(Canonicalise, CanonicalFormIsStableAndKeepsTheHost) {
    const std::pair<const char*, const char*> cases[] = {
        // An encoded "@" in the host stays encoded: decoded, it would make the part before
        // it user information and evil.example the host.
        {"http://app.example.com%40evil.example/", "http://app.example.com%40evil.example/"},
        {"http://a%2fb%3A1.example/", "http://a%2Fb%3A1.example/"},
        // A blank before an empty port: once encoded, it stays (it used to be written out
        // raw, and trimmed on the next round).
        {"I://< :", "i://<%20"},
        {"a://b :", "a://b%20"},
        // Encoded unreserved characters are the same characters; names in other scripts
        // take their ASCII form, written or encoded.
        {"http://ex%41mple.COM/", "http://example.com/"},
        {"http://B\xC3\xBC"
         "cher.Example/",
         "http://xn--bcher-kva.example/"},
        {"http://B%C3%BC"
         "cher.example/",
         "http://xn--bcher-kva.example/"},
    };
    for (const auto& [address, expected] : cases) {
        Canonical once = canon(address);
        EXPECT_EQ(once.hr, S_FALSE) << address;
        EXPECT_EQ(once.text, expected) << address;
        Canonical twice = canon(once.text.c_str());
        EXPECT_EQ(twice.hr, S_FALSE) << address;
        EXPECT_EQ(twice.text, once.text) << address;
        if (std::string(address).find(' ') == std::string::npos) {
            EXPECT_EQ(hostOf(once.text), hostOf(address)) << address;
        }
    }
}

void countMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer count) {
    ++*static_cast<int*>(count);
}

TEST(Canonicalise, PathThatWouldReadAsAnAuthorityIsNoUrl) {
    int messages = 0;
    const guint handler =
        g_log_set_handler("GLib", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL),
                          countMessage, &messages);
    // Without a host, ".///" loses its dot segment and would start with "//".
    EXPECT_EQ(canon("v:.///").hr, E_INVALID_URL);
    EXPECT_EQ(canon("v:/.//x").hr, E_INVALID_URL);
    EXPECT_FALSE(sameAddress(Bstr(u"v:.///"), Bstr(u"v:.///")));
    g_log_remove_handler("GLib", handler);
    EXPECT_EQ(messages, 0) << "GLib complained";
    // With an authority, such a path is fine.
    EXPECT_EQ(canon("file:////srv/x").text, "file:////srv/x");
}

TEST(Validate, AbsoluteAddressesAreValid) {
    EXPECT_EQ(validate(Bstr(u"https://example.com/app")), S_OK);
    EXPECT_EQ(validate(Bstr(u"/home/user/start.htm")), S_OK);
    EXPECT_EQ(validate(Bstr(u"./start.htm")), E_BAD_PATHNAME);
    EXPECT_EQ(validate(Bstr()), E_INVALIDARG);
}

TEST(SameAddress, FragmentsAreIgnored) {
    EXPECT_TRUE(sameAddress(Bstr(u"https://example.com/a#one"), Bstr(u"https://example.com/a")));
    EXPECT_TRUE(sameAddress(Bstr(u"https://Example.com/a#x"), Bstr(u"https://example.com/a#y")));
    EXPECT_TRUE(sameAddress(Bstr(u"https://example.com"), Bstr(u"https://example.com/")));
}

TEST(SameAddress, FileAndResourceAddressesIgnoreCase) {
    EXPECT_TRUE(sameAddress(Bstr(u"file:///Home/Start.HTM"), Bstr(u"FILE:///home/start.htm")));
    EXPECT_TRUE(sameAddress(Bstr(u"/home/Start.htm"), Bstr(u"file:///home/start.HTM")));
    EXPECT_TRUE(sameAddress(Bstr(u"res:///usr/bin/norv/STARTUPSPLASH.HTM"),
                            Bstr(u"res:///usr/bin/norv/startupsplash.htm")));
    EXPECT_FALSE(sameAddress(Bstr(u"https://example.com/Page"), Bstr(u"https://example.com/page")));
    EXPECT_FALSE(sameAddress(Bstr(u"https://example.com/a"), Bstr(u"https://example.com/b")));
}

TEST(SameAddress, AbsentAndFailingAddresses) {
    Bstr present(u"https://example.com/");
    EXPECT_TRUE(sameAddress(Bstr(), Bstr()));
    EXPECT_FALSE(sameAddress(Bstr(), present));
    EXPECT_FALSE(sameAddress(present, Bstr()));
    EXPECT_TRUE(sameAddress(present, present));
    Bstr relative(u"./start.htm");
    EXPECT_TRUE(sameAddress(relative, relative)) << "the same text object";
    EXPECT_FALSE(sameAddress(relative, Bstr(u"./start.htm")));
}

} // namespace
} // namespace norv::markup
