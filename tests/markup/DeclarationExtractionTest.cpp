#include "markup/DeclarationExtraction.h"

#include <gtest/gtest.h>

#include <vector>

#include "markup/HtmlDocument.h"
#include "markup/WindowDescription.h"
#include "platform/com/ComObject.h"

namespace norv::markup {
namespace {

using namespace com;

// A fake document: a list of elements, each with a tag name, inner HTML and children,
// where any call can be made to fail.
struct FakeElement;

class FakeCollection final : public ComObject<FakeCollection, IHtmlElementCollection> {
public:
    std::vector<ComPtr<IUnknown>> items;
    HRESULT lengthResult = S_OK;
    HRESULT itemResult = S_OK;

    HRESULT get_length(std::int32_t* out) override {
        *out = static_cast<std::int32_t>(items.size());
        return lengthResult;
    }
    HRESULT item(std::int32_t index, IUnknown** out) override {
        if (failed(itemResult))
            return itemResult;
        return ComPtr<IUnknown>(items.at(static_cast<std::size_t>(index))).copyTo(out);
    }
};

class FakeElement final : public ComObject<FakeElement, IHtmlElement> {
public:
    FakeElement(std::u16string tag, std::u16string inner) : tag(std::move(tag)), inner(inner) {}
    std::u16string tag;
    std::u16string inner;
    ComPtr<FakeCollection> children = makeObject<FakeCollection>();
    HRESULT tagResult = S_OK, innerResult = S_OK, childrenResult = S_OK;
    ComPtr<IUnknown> childrenOverride;
    bool useOverride = false;

    HRESULT get_tagName(Bstr* out) override {
        *out = Bstr(tag);
        return tagResult;
    }
    HRESULT get_children(IUnknown** out) override {
        if (failed(childrenResult))
            return childrenResult;
        if (useOverride)
            return childrenOverride.copyTo(out);
        return ComPtr<IUnknown>(children->unknown()).copyTo(out);
    }
    HRESULT get_innerHTML(Bstr* out) override {
        *out = Bstr(inner);
        return innerResult;
    }
};

// Something in the collection that is not an element.
class FakeText final : public ComObject<FakeText, IUnknown> {};

class FakeDocument final : public ComObject<FakeDocument, IHtmlDocument> {
public:
    ComPtr<FakeCollection> all = makeObject<FakeCollection>();
    ComPtr<FakeElement> head;
    HRESULT allResult = S_OK;

    FakeDocument() {
        all->items.push_back(element(u"HTML", u"")->unknown());
        head = element(u"head", u"");
        all->items.push_back(head->unknown());
        all->items.push_back(element(u"body", u"")->unknown());
    }
    static ComPtr<FakeElement> element(std::u16string tag, std::u16string inner) {
        return makeObject<FakeElement>(std::move(tag), std::move(inner));
    }
    ComPtr<FakeElement> addHeadChild(std::u16string tag, std::u16string inner) {
        auto child = element(std::move(tag), std::move(inner));
        head->children->items.push_back(child->unknown());
        return child;
    }
    HRESULT get_all(IHtmlElementCollection** out) override {
        if (failed(allResult))
            return allResult;
        return ComPtr<IHtmlElementCollection>(all.get()).copyTo(out);
    }
};

constexpr std::u16string_view kSplash =
    u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" clientWidth=\"326px\" "
    u"clientHeight=\"180px\"><title cssSelector=\"#dialogTitle\"/></ui:window>";

TEST(QuickCheck, AcceptedForms) {
    for (std::u16string_view text : {
             u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" clientWidth=\"1px\">",
             u"<window xmlns=\"urn:schemas-tavimark-mixed1.0\">",
             u"<ui:dialog xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"/>",
             u" \t\r\n<dialog urn:schemas-tavimark-mixed1.0",
             u"text before <ui:window urn:schemas-tavimark-mixed1.0",
             u"<w window urn:schemas-tavimark-mixed1.0", // the name state keeps looking
         }) {
        EXPECT_TRUE(looksLikeDeclaration(text)) << std::string(text.begin(), text.end());
    }
}

TEST(QuickCheck, RefusedForms) {
    for (std::u16string_view text : {
             u"<ui:window>",
             u"<ui:window\nxmlns:ui=\"urn:schemas-tavimark-mixed1.0\">",
             u"<a:b:window xmlns:a=\"urn:schemas-tavimark-mixed1.0\">",
             u"<ui:window xmlns:ui=\"urn:other\">",
             u"<ui:window xmlns:ui=\"URN:SCHEMAS-TAVIMARK-MIXED1.0\">",
             u"<ui:Window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">",
             u"<ui:window ",
             u"no angle bracket window urn:schemas-tavimark-mixed1.0",
             u"",
         }) {
        EXPECT_FALSE(looksLikeDeclaration(text)) << std::string(text.begin(), text.end());
    }
}

TEST(Unwrapping, StyleSheetFormReplacesEntities) {
    auto text = unwrapDeclaration(u"\n\n  /* &lt;ui:window a=\"&gt;\"&gt; */\n\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, u"<ui:window a=\">\">");
    EXPECT_EQ(unwrapDeclaration(u"   /**/  "), u"");
}

TEST(Unwrapping, CommentFormKeepsEntitiesAndNeedsNoLeadingSpace) {
    auto text = unwrapDeclaration(u"<!-- &lt;ui:window> -->\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, u"&lt;ui:window>");
    EXPECT_FALSE(unwrapDeclaration(u" <!-- <ui:window> -->"));
}

TEST(Unwrapping, ShortOrUnwrappedContentIsSkipped) {
    EXPECT_EQ(unwrapDeclaration(u"/*abc*/"), u"abc");
    EXPECT_EQ(unwrapDeclaration(u"<!---->"), u"");
    EXPECT_FALSE(unwrapDeclaration(u"/*ab*/")); // six characters
    EXPECT_FALSE(unwrapDeclaration(u"<!--->"));
    EXPECT_FALSE(unwrapDeclaration(u"body { color: red }"));
    // Markers that overlap once trimmed are no comment.
    EXPECT_FALSE(unwrapDeclaration(u"   /*/   "));
    EXPECT_FALSE(unwrapDeclaration(u"<!--->   "));
    EXPECT_FALSE(unwrapDeclaration(u"<!-->    "));
}

class ExtractionTest : public ::testing::Test {
protected:
    HRESULT load(IUnknown* document) {
        VARIANT_BOOL found = VARIANT_TRUE;
        HRESULT hr = description->loadFromDocument(document, &found);
        EXPECT_EQ(found, VARIANT_FALSE);
        return hr;
    }
    std::int32_t width() {
        std::int32_t value = 0;
        description->get_clientWidth(&value);
        return value;
    }
    ComPtr<FakeDocument> document = makeObject<FakeDocument>();
    ComPtr<WindowDescription> description = makeObject<WindowDescription>();
};

TEST_F(ExtractionTest, FindsTheStyleSheetDeclaration) {
    document->addHeadChild(u"title", u"Some page");
    document->addHeadChild(u"style", u"\r\n\r\n/*" + std::u16string(kSplash) + u"*/\r\n\r\n");
    EXPECT_EQ(load(document->unknown()), S_OK);
    EXPECT_EQ(width(), 326);
}

TEST_F(ExtractionTest, FindsTheCommentDeclarationAndAnUpperCaseHead) {
    document->head->tag = u"HEAD";
    document->addHeadChild(u"style", u"<!--" + std::u16string(kSplash) + u"-->");
    EXPECT_EQ(load(document->unknown()), S_OK);
    EXPECT_EQ(width(), 326);
}

TEST_F(ExtractionTest, EscapedStyleSheetDeclarationIsParsed) {
    std::u16string escaped;
    for (char16_t c : kSplash) {
        if (c == u'<')
            escaped += u"&lt;";
        else if (c == u'>')
            escaped += u"&gt;";
        else
            escaped += c;
    }
    document->addHeadChild(u"style", u"/*" + escaped + u"*/");
    EXPECT_EQ(load(document->unknown()), S_OK);
    EXPECT_EQ(width(), 326);
}

TEST_F(ExtractionTest, FirstPassingChildDecidesEvenWhenItFails) {
    document->addHeadChild(u"style", u"/* body { margin: 0 } */");
    document->addHeadChild(u"style", u"/*<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" "
                                     u"clientWidth=\"1\"/>*/");
    document->addHeadChild(u"style", u"/*" + std::u16string(kSplash) + u"*/");
    EXPECT_EQ(load(document->unknown()), NORV_E_XMLBADVALUE);
    EXPECT_EQ(width(), -1);
}

TEST_F(ExtractionTest, NothingFoundLeavesTheDescription) {
    description->put_clientWidth(44);
    EXPECT_EQ(load(document->unknown()), S_FALSE); // empty head
    auto child = document->addHeadChild(u"style", u"/*" + std::u16string(kSplash) + u"*/");
    child->innerResult = E_FAIL; // unreadable children are skipped
    document->addHeadChild(u"script", u"var a = 1;");
    document->head->children->items.push_back(makeObject<FakeText>()->unknown());
    document->head->children->items.push_back(nullptr);
    EXPECT_EQ(load(document->unknown()), S_FALSE);
    document->all->items.erase(document->all->items.begin() + 1); // no head at all
    EXPECT_EQ(load(document->unknown()), S_FALSE);
    EXPECT_EQ(width(), 44);
}

TEST_F(ExtractionTest, UnreadableItemsOfTheDocumentAreSkipped) {
    auto broken = FakeDocument::element(u"head", u"");
    broken->tagResult = E_FAIL; // this one is passed over
    document->all->items.insert(document->all->items.begin(), broken->unknown());
    document->all->items.insert(document->all->items.begin(), makeObject<FakeText>()->unknown());
    document->all->items.insert(document->all->items.begin(), nullptr);
    document->addHeadChild(u"style", u"/*" + std::u16string(kSplash) + u"*/");
    EXPECT_EQ(load(document->unknown()), S_OK);
}

TEST_F(ExtractionTest, DocumentFailuresComeBackUnchanged) {
    const HRESULT failure = hresult(0x80070015);
    document->allResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
    document->allResult = S_OK;
    document->all->lengthResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
    document->all->lengthResult = S_OK;
    document->all->itemResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
    document->all->itemResult = S_OK;
    document->head->childrenResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
    document->head->childrenResult = S_OK;
    document->addHeadChild(u"style", u"/* x */");
    document->head->children->itemResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
    document->head->children->itemResult = S_OK;
    document->head->children->lengthResult = failure;
    EXPECT_EQ(load(document->unknown()), failure);
}

TEST_F(ExtractionTest, ChildrenThatAreNoCollectionGiveNoInterface) {
    document->head->useOverride = true;
    document->head->childrenOverride = makeObject<FakeText>()->unknown();
    EXPECT_EQ(load(document->unknown()), E_NOINTERFACE);
    document->head->childrenOverride = nullptr;
    EXPECT_EQ(load(document->unknown()), E_NOINTERFACE);
}

TEST_F(ExtractionTest, WithoutADocumentInterface) {
    EXPECT_EQ(load(nullptr), NORV_E_NOHTMLDOCUMENT);
    EXPECT_EQ(load(makeObject<FakeText>()->unknown()), NORV_E_NOHTMLDOCUMENT);
    EXPECT_EQ(description->loadFromDocument(document->unknown(), nullptr), S_FALSE);
}

} // namespace
} // namespace norv::markup
