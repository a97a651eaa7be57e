// The page's live document as declaration extraction sees it, over dispatch objects that
// stand for the bridge's script objects: the declaration is found through the calls a
// page answers, failures of the page come back unchanged, and the chrome selectors bind
// only in their one form.
#include <gtest/gtest.h>

#include "host/ChromeBinding.h"
#include "host/LiveHtmlDocument.h"
#include "markup/DeclarationExtraction.h"
#include "markup/ElementDescription.h"
#include "platform/com/ErrorInfo.h"
#include "tests/platform/web/TestObject.h"

using namespace norv;
using com::ComPtr;
using com::HRESULT;
using com::Variant;
using test::TestObject;

namespace {

ComPtr<TestObject> element(const std::u16string& tag, const std::u16string& inner,
                           std::vector<ComPtr<TestObject>> children = {});

// A collection as the page hands it out: length and item(i) (null past the end).
ComPtr<TestObject> collection(std::vector<ComPtr<TestObject>> items) {
    auto c = com::makeObject<TestObject>();
    c->property(u"length", Variant::fromI4(static_cast<std::int32_t>(items.size())));
    c->method(u"item", [items](std::vector<Variant>& args, Variant* result) {
        Variant index;
        if (args.size() != 1 || com::failed(com::changeType(index, args[0], com::VT_I4)))
            return com::E_INVALIDARG;
        const auto i = static_cast<std::size_t>(index.i4());
        *result = i < items.size() ? Variant::fromDispatch(items[i].get()) : Variant::null();
        return com::S_OK;
    });
    return c;
}

ComPtr<TestObject> element(const std::u16string& tag, const std::u16string& inner,
                           std::vector<ComPtr<TestObject>> children) {
    auto e = com::makeObject<TestObject>();
    e->property(u"tagName", Variant::fromBstr(com::Bstr(tag)));
    e->property(u"innerHTML", Variant::fromBstr(com::Bstr(inner)));
    auto list = collection(std::move(children));
    e->property(u"children", Variant::fromDispatch(list.get()));
    return e;
}

// A document whose every element list is `all`.
ComPtr<TestObject> document(std::vector<ComPtr<TestObject>> all) {
    auto d = com::makeObject<TestObject>();
    auto list = collection(std::move(all));
    d->method(u"getElementsByTagName", [list](std::vector<Variant>& args, Variant* result) {
        if (args.size() != 1 || args[0].vt() != com::VT_BSTR || args[0].bstr().view() != u"*")
            return com::E_INVALIDARG;
        *result = Variant::fromDispatch(list.get());
        return com::S_OK;
    });
    return d;
}

constexpr const char16_t* kDeclaration =
    u"/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" clientWidth=\"326px\">"
    u"</ui:window>*/";

} // namespace

TEST(LiveDocumentTest, FindsTheDeclarationInTheHeadOfThePagesDocument) {
    auto style = element(u"STYLE", kDeclaration);
    auto head = element(u"HEAD", u"", {element(u"TITLE", u"A title"), style});
    auto doc = document({element(u"HTML", u""), head, element(u"BODY", u"")});
    auto live = com::makeObject<host::LiveHtmlDocument>(ComPtr<com::IDispatch>(doc.get()));
    std::u16string text;
    EXPECT_EQ(markup::findDeclaration(live.get(), text), com::S_OK);
    EXPECT_EQ(text, u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" "
                    u"clientWidth=\"326px\"></ui:window>");

    // No head: nothing to find.
    auto bare = document({element(u"HTML", u""), element(u"BODY", kDeclaration)});
    auto liveBare = com::makeObject<host::LiveHtmlDocument>(ComPtr<com::IDispatch>(bare.get()));
    EXPECT_EQ(markup::findDeclaration(liveBare.get(), text), com::S_FALSE);
}

TEST(LiveDocumentTest, AFailureOfThePageComesBackUnchanged) {
    constexpr HRESULT kGone = com::RPC_E_DISCONNECTED;
    auto broken = com::makeObject<TestObject>();
    broken->property(u"tagName", Variant::fromBstr(com::Bstr(u"HEAD")));
    broken->getter(u"children", [](std::vector<Variant>&, Variant*) { return kGone; });
    auto doc = document({element(u"HTML", u""), broken});
    auto live = com::makeObject<host::LiveHtmlDocument>(ComPtr<com::IDispatch>(doc.get()));
    std::u16string text;
    EXPECT_EQ(markup::findDeclaration(live.get(), text), kGone);

    // A document whose element list is no object offers no collection.
    auto odd = com::makeObject<TestObject>();
    odd->method(u"getElementsByTagName", [](std::vector<Variant>&, Variant* result) {
        *result = Variant::fromI4(3);
        return com::S_OK;
    });
    auto liveOdd = com::makeObject<host::LiveHtmlDocument>(ComPtr<com::IDispatch>(odd.get()));
    EXPECT_EQ(markup::findDeclaration(liveOdd.get(), text), com::DISP_E_TYPEMISMATCH);
}

TEST(ChromeSelectorTest, OnlyAnIdSelectorBindsAndItMatchesExactly) {
    using host::ChromeBinding;
    EXPECT_EQ(ChromeBinding::idOfSelector(u"#e_close"), u"e_close");
    for (const char16_t* unbound : {u"#", u"", u".titlebar", u"div#x", u"e_close"})
        EXPECT_FALSE(ChromeBinding::idOfSelector(unbound)) << com::utf16ToUtf8(unbound);

    auto close = com::makeObject<markup::ElementDescription>();
    close->put_cssSelector(com::Bstr(u"#e_close"));
    EXPECT_TRUE(ChromeBinding::matchesSelector(close.get(), u"e_close"));
    EXPECT_FALSE(ChromeBinding::matchesSelector(close.get(), u"E_close"));
    EXPECT_FALSE(ChromeBinding::matchesSelector(close.get(), u"e_close2"));
    EXPECT_FALSE(ChromeBinding::matchesSelector(nullptr, u"e_close"));
}
