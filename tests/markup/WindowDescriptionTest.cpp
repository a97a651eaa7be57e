#include "markup/WindowDescription.h"

#include <gtest/gtest.h>

#include "markup/DefaultDeclaration.h"
#include "markup/TitleDescription.h"
#include "platform/com/ErrorInfo.h"

namespace norv::markup {
namespace {

using namespace com;

constexpr std::u16string_view kNs = u"xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"";

std::u16string window(std::u16string_view attributes, std::u16string_view body = u"") {
    std::u16string text = u"<ui:window ";
    text += kNs;
    if (!attributes.empty())
        text += u" " + std::u16string(attributes);
    if (body.empty())
        return text + u"/>";
    return text + u">" + std::u16string(body) + u"</ui:window>";
}

// Everything a description holds, read through its interface.
struct Snapshot {
    std::int32_t type = 0, isApplicationWindow = 0, clientWidth = 0, clientHeight = 0;
    VARIANT_BOOL minimized = 0, maximized = 0, resizable = 0, onTop = 0, fullScreen = 0;
    struct Element {
        std::u16string selector, cssClass;
        VARIANT_BOOL optional = 0;
        bool operator==(const Element&) const = default;
    };
    std::optional<Element> title, caption, close, minimize;
    bool operator==(const Snapshot&) const = default;
};

Snapshot::Element elementOf(IElementDescription* element) {
    Snapshot::Element e;
    Bstr text;
    EXPECT_EQ(element->get_cssSelector(&text), S_OK);
    e.selector = text.str();
    EXPECT_EQ(element->get_cssClass(&text), S_OK);
    e.cssClass = text.str();
    EXPECT_EQ(element->get_optional(&e.optional), S_OK);
    return e;
}

Snapshot snapshot(IWindowDescription* d) {
    Snapshot s;
    d->get_type(&s.type);
    d->get_isApplicationWindow(&s.isApplicationWindow);
    d->get_clientWidth(&s.clientWidth);
    d->get_clientHeight(&s.clientHeight);
    d->get_isMinimizedBox(&s.minimized);
    d->get_isMaximizedBox(&s.maximized);
    d->get_isResizable(&s.resizable);
    d->get_isAlwaysOnTop(&s.onTop);
    d->get_isFullScreen(&s.fullScreen);
    ComPtr<ITitleDescription> title;
    d->get_title(title.put());
    if (title) {
        s.title = elementOf(title.get());
        ComPtr<IElementDescription> child;
        if (title->get_caption(child.put()) == S_OK && child)
            s.caption = elementOf(child.get());
        if (title->get_buttonClose(child.put()) == S_OK && child)
            s.close = elementOf(child.get());
        if (title->get_buttonMinimize(child.put()) == S_OK && child)
            s.minimize = elementOf(child.get());
    }
    return s;
}

const Snapshot kDefaults = [] {
    Snapshot s;
    s.isApplicationWindow = 100;
    s.clientWidth = s.clientHeight = -1;
    s.minimized = VARIANT_TRUE;
    return s;
}();

class WindowDescriptionTest : public ::testing::Test {
protected:
    void SetUp() override { clearErrorInfo(); }

    HRESULT load(std::u16string_view text) { return description->loadXml(Bstr(text)); }
    std::u16string xml() {
        Bstr text;
        EXPECT_EQ(description->toXml(&text), S_OK);
        return text.str();
    }
    // A description that differs from the defaults everywhere.
    void loadNonDefault() {
        ASSERT_EQ(load(window(u"type=\"utility\" clientWidth=\"10px\" clientHeight=\"20px\" "
                              u"isMinimizedBox=\"false\" isMaximizedBox=\"true\"",
                              u"<title cssSelector=\"#t\"/>")),
                  S_OK);
        ASSERT_NE(snapshot(description.get()), kDefaults);
    }

    ComPtr<WindowDescription> description = makeObject<WindowDescription>();
};

TEST_F(WindowDescriptionTest, StartsAtTheDefaults) {
    EXPECT_EQ(snapshot(description.get()), kDefaults);
}

TEST_F(WindowDescriptionTest, ReadsTheSplashDeclaration) {
    ASSERT_EQ(load(window(u"clientWidth=\"326px\" clientHeight=\"180px\"",
                          u"<title cssSelector=\"#dialogTitle\"><buttonClose "
                          u"cssSelector=\"#btnClose\" /><buttonMinimize "
                          u"cssSelector=\"#btnMinimize\" /></title>")),
              S_OK);
    Snapshot expected = kDefaults;
    expected.clientWidth = 326;
    expected.clientHeight = 180;
    expected.title = Snapshot::Element{u"#dialogTitle", u"", VARIANT_FALSE};
    expected.close = Snapshot::Element{u"#btnClose", u"", VARIANT_FALSE};
    expected.minimize = Snapshot::Element{u"#btnMinimize", u"", VARIANT_FALSE};
    EXPECT_EQ(snapshot(description.get()), expected);
}

TEST_F(WindowDescriptionTest, ReadsEveryRootAttribute) {
    ASSERT_EQ(load(window(u"type=\" screen\" isApplicationWindow=\"false\" isMinimizedBox=\"0\" "
                          u"isMaximizedBox=\"TRUE\" isResizable=\"1\" isAlwaysOnTop=\"true\" "
                          u"isFullScreen=\"true\" clientWidth=\"auto\" clientHeight=\"0px\"")),
              S_OK);
    Snapshot s = snapshot(description.get());
    EXPECT_EQ(s.type, wtScreen);
    EXPECT_EQ(s.isApplicationWindow, 0);
    EXPECT_EQ(s.minimized, VARIANT_FALSE);
    EXPECT_EQ(s.maximized, VARIANT_TRUE);
    EXPECT_EQ(s.resizable, VARIANT_TRUE);
    EXPECT_EQ(s.onTop, VARIANT_TRUE);
    EXPECT_EQ(s.fullScreen, VARIANT_TRUE);
    EXPECT_EQ(s.clientWidth, -1);
    EXPECT_EQ(s.clientHeight, 0);
}

TEST_F(WindowDescriptionTest, DialogRootAndDefaultNamespaceAreAccepted) {
    ASSERT_EQ(load(u"<ui:dialog xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" clientWidth=\"5px\"/>"),
              S_OK);
    std::int32_t width = 0;
    description->get_clientWidth(&width);
    EXPECT_EQ(width, 5);
    // A default namespace works as well, and the title inherits it without harm.
    ASSERT_EQ(load(u"<window xmlns=\"urn:schemas-tavimark-mixed1.0\"><title cssSelector=\"#t\"/>"
                   u"</window>"),
              S_OK);
    EXPECT_TRUE(snapshot(description.get()).title.has_value());
}

TEST_F(WindowDescriptionTest, RootChecksLeaveTheDescriptionAlone) {
    loadNonDefault();
    const Snapshot before = snapshot(description.get());
    EXPECT_EQ(load(u"<ui:window xmlns:ui=\"urn:other\"/>"), NORV_E_XMLBADNAMESPACE);
    EXPECT_EQ(load(u"<window clientWidth=\"1px\"/>"), NORV_E_XMLBADNAMESPACE);
    EXPECT_EQ(load(u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0 \"/>"),
              NORV_E_XMLBADNAMESPACE);
    EXPECT_EQ(load(u"<ui:frame xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"/>"), NORV_E_XMLBADROOT);
    EXPECT_EQ(load(u"<ui:Window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"/>"), NORV_E_XMLBADROOT);
    EXPECT_EQ(load(u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">"),
              NORV_E_XMLNOTWELLFORMED);
    EXPECT_EQ(snapshot(description.get()), before);
}

TEST_F(WindowDescriptionTest, UnclosedElementPublishesReasonLineAndColumn) {
    EXPECT_EQ(load(u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">\n  <title "
                   u"cssSelector=\"#t\">\n</ui:window>"),
              NORV_E_XMLNOTWELLFORMED);
    std::optional<ErrorInfo> info = takeErrorInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->iid, IWindowDescription::iid);
    const std::string text = info->description.toUtf8();
    EXPECT_TRUE(text.ends_with(" (3, 13)")) << text;
    EXPECT_GT(text.size(), std::string(" (3, 13)").size()) << "the engine's reason comes first";
    EXPECT_EQ(description->InterfaceSupportsErrorInfo(IWindowDescription::iid), S_OK);
}

TEST_F(WindowDescriptionTest, UndeclaredPrefixIsNotWellFormed) {
    EXPECT_EQ(load(u"<ui:window/>"), NORV_E_XMLNOTWELLFORMED);
    EXPECT_EQ(load(u""), NORV_E_XMLNOTWELLFORMED);
    EXPECT_EQ(load(window(u"clientWidth=\"1px\" clientWidth=\"2px\"")), NORV_E_XMLNOTWELLFORMED);
}

TEST_F(WindowDescriptionTest, EntitiesExpandOnlyWhenSafe) {
    const std::u16string root = u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">";
    ASSERT_EQ(load(u"<!DOCTYPE ui:window [<!ENTITY e \"#x\">]>" + root +
                   u"<title cssSelector=\"&e;\"/></ui:window>"),
              S_OK);
    EXPECT_EQ(snapshot(description.get()).title->selector, u"#x");
    // An external entity is never read, and an exponential expansion is refused.
    EXPECT_EQ(load(u"<!DOCTYPE ui:window [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>" + root +
                   u"<title cssSelector=\"&e;\"/></ui:window>"),
              NORV_E_XMLNOTWELLFORMED);
    std::u16string entities = u"<!ENTITY a0 \"xxxxxxxxxx\">";
    for (int i = 1; i < 10; ++i) {
        std::u16string previous = u"&a" + std::u16string(1, u'0' + (i - 1)) + u";";
        entities += u"<!ENTITY a" + std::u16string(1, u'0' + i) + u" \"";
        for (int n = 0; n < 10; ++n)
            entities += previous;
        entities += u"\">";
    }
    EXPECT_EQ(load(u"<!DOCTYPE ui:window [" + entities + u"]>" + root +
                   u"<title cssSelector=\"&a9;\"/></ui:window>"),
              NORV_E_XMLNOTWELLFORMED);
}

TEST_F(WindowDescriptionTest, BadValuesResetToTheDefaults) {
    const std::u16string_view bad[] = {
        u"clientWidth=\"326\"", u"clientHeight=\"12pt\"", u"type=\"Normal\"",
        u"type=\"5\"",          u"isResizable=\"maybe\"", u"isApplicationWindow=\"yes\"",
        u"isFullScreen=\"\"",
    };
    for (std::u16string_view attributes : bad) {
        loadNonDefault();
        EXPECT_EQ(load(window(attributes)), NORV_E_XMLBADVALUE)
            << std::string(attributes.begin(), attributes.end());
        EXPECT_EQ(snapshot(description.get()), kDefaults);
    }
}

TEST_F(WindowDescriptionTest, TitleFaultsResetToTheDefaults) {
    const std::pair<std::u16string_view, HRESULT> cases[] = {
        {u"<title/>", NORV_E_XMLBADROOT},
        {u"<title cssSelector=\"\"/>", NORV_E_XMLBADROOT},
        {u"<title cssSelector=\"#t\"><caption cssClass=\"c\"/></title>", NORV_E_XMLBADROOT},
        // optional keeps the conversion's own code.
        {u"<title cssSelector=\"#t\" optional=\"maybe\"/>", DISP_E_TYPEMISMATCH},
        {u"<title cssSelector=\"#t\"><buttonClose cssSelector=\"#c\" optional=\"x\"/></title>",
         DISP_E_TYPEMISMATCH},
    };
    for (const auto& [body, expected] : cases) {
        loadNonDefault();
        EXPECT_EQ(load(window(u"clientWidth=\"9px\"", body)), expected)
            << std::string(body.begin(), body.end());
        EXPECT_EQ(snapshot(description.get()), kDefaults);
    }
}

TEST_F(WindowDescriptionTest, TitleAndChildrenAreFoundAnywhereBelow) {
    ASSERT_EQ(
        load(window(u"", u"<ui:title cssSelector=\"#prefixed\"/><div><div><title "
                         u"cssSelector=\"#deep\" cssClass=\"k\" optional=\"1\"><span><caption "
                         u"cssSelector=\"#cap\"/></span><caption cssSelector=\"#second\"/>"
                         u"</title></div></div><title cssSelector=\"#later\"/>")),
        S_OK);
    Snapshot s = snapshot(description.get());
    ASSERT_TRUE(s.title);
    EXPECT_EQ(*s.title, (Snapshot::Element{u"#deep", u"k", VARIANT_TRUE}));
    ASSERT_TRUE(s.caption);
    EXPECT_EQ(s.caption->selector, u"#cap");
    EXPECT_FALSE(s.close);
}

TEST_F(WindowDescriptionTest, AttributesWithoutBlankBetweenThemAreSeparated) {
    ASSERT_EQ(load(u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" clientWidth=\"1px\""
                   u"clientHeight='2px'isResizable = \"true\"/>"),
              S_OK);
    Snapshot s = snapshot(description.get());
    EXPECT_EQ(s.clientWidth, 1);
    EXPECT_EQ(s.clientHeight, 2);
    EXPECT_EQ(s.resizable, VARIANT_TRUE);
}

TEST(QuoteSeparation, InsertsOneBlankAfterAGluedClosingQuote) {
    EXPECT_EQ(separateQuotes(u"<a b=\"1\"c=\"2\"/>"), u"<a b=\"1\" c=\"2\"/>");
    EXPECT_EQ(separateQuotes(u"<a b=\"1\" c='2'/>"), u"<a b=\"1\" c='2'/>");
    EXPECT_EQ(separateQuotes(u"<a b=\"x=y\"c=\"2\">"), u"<a b=\"x=y\" c=\"2\">");
    EXPECT_EQ(separateQuotes(u"<a b=  'q'd='r'e=\"s\"/>"), u"<a b=  'q' d='r' e=\"s\"/>");
    // Nothing to close or nothing after "=": the rest stays as it is.
    EXPECT_EQ(separateQuotes(u"<a b=\"1"), u"<a b=\"1");
    EXPECT_EQ(separateQuotes(u"<a b="), u"<a b=");
    EXPECT_EQ(separateQuotes(u"<a b=   "), u"<a b=   ");
    EXPECT_EQ(separateQuotes(u"x=\"1\""), u"x=\"1\"");
}

TEST_F(WindowDescriptionTest, SerialisesOnlyWhatDiffersInOrder) {
    EXPECT_EQ(xml(), u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"/>");

    description->put_isResizable(VARIANT_TRUE);
    description->put_isAlwaysOnTop(VARIANT_TRUE);
    description->put_isMaximizedBox(VARIANT_TRUE);
    description->put_isMinimizedBox(VARIANT_FALSE);
    description->put_isApplicationWindow(-1);
    description->put_clientHeight(180);
    description->put_clientWidth(0);
    description->put_type(wtCustom);
    description->put_isFullScreen(VARIANT_TRUE);
    EXPECT_EQ(xml(), u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\" type=\"custom\" "
                     u"clientWidth=\"0px\" clientHeight=\"180px\" isApplicationWindow=\"true\" "
                     u"isMinimizedBox=\"false\" isMaximizedBox=\"true\" isAlwaysOnTop=\"true\" "
                     u"isResizable=\"true\"/>");
}

TEST_F(WindowDescriptionTest, SerialisesTheTitleChildrenCloseCaptionMinimise) {
    ComPtr<ITitleDescription> title;
    ASSERT_EQ(description->createTitle(title.put()), S_OK);
    title->put_cssSelector(Bstr(u"#t"));
    title->put_cssClass(Bstr(u"a&b\"c"));
    ComPtr<IElementDescription> caption, close, minimize;
    ASSERT_EQ(description->createElement(caption.put()), S_OK);
    ASSERT_EQ(description->createElement(close.put()), S_OK);
    ASSERT_EQ(description->createElement(minimize.put()), S_OK);
    caption->put_cssSelector(Bstr(u"#cap"));
    caption->put_optional(VARIANT_TRUE);
    close->put_cssSelector(Bstr(u"#close"));
    minimize->put_cssSelector(Bstr(u"#min"));
    title->put_caption(caption.get());
    title->put_buttonClose(close.get());
    title->put_buttonMinimize(minimize.get());
    description->put_title(title.get());
    EXPECT_EQ(xml(), u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"><title "
                     u"cssSelector=\"#t\" cssClass=\"a&amp;b&quot;c\"><buttonClose "
                     u"cssSelector=\"#close\"/><caption cssSelector=\"#cap\" optional=\"true\"/>"
                     u"<buttonMinimize cssSelector=\"#min\"/></title></ui:window>");

    // An empty selector cannot be written.
    close->put_cssSelector(Bstr());
    Bstr text;
    EXPECT_EQ(description->toXml(&text), NORV_E_XMLBADROOT);
}

TEST_F(WindowDescriptionTest, SerialiserRefusesValuesWithoutText) {
    Bstr text;
    description->put_type(wtUnknown);
    EXPECT_EQ(description->toXml(&text), E_FAIL);
    description->put_type(wtAuto);
    description->put_isApplicationWindow(7);
    EXPECT_EQ(description->toXml(&text), TYPE_E_TYPEMISMATCH);
    EXPECT_EQ(description->toXml(nullptr), E_INVALIDARG);
}

TEST_F(WindowDescriptionTest, RoundTripKeepsAllButFullScreen) {
    const std::u16string declarations[] = {
        window(u"type=\"normal\" isApplicationWindow=\"auto\" clientWidth=\"4294967294px\" "
               u"clientHeight=\"1px\" isResizable=\"1\"",
               u"<title cssSelector=\"a b\" cssClass=\"&lt;&#9;&#10;&#13;&gt;\" optional=\"true\">"
               u"<caption cssSelector=\"'&quot;\"/><buttonMinimize cssSelector=\"\xE9\x4E2D\"/>"
               u"</title>"),
        window(u"isApplicationWindow=\"0\" isMinimizedBox=\"false\" isAlwaysOnTop=\"1\""),
        window(u"type=\"screen\" isFullScreen=\"true\""),
    };
    for (const std::u16string& declaration : declarations) {
        ASSERT_EQ(load(declaration), S_OK);
        Snapshot first = snapshot(description.get());
        const std::u16string text = xml();
        ASSERT_EQ(load(text), S_OK) << std::string(text.begin(), text.end());
        Snapshot second = snapshot(description.get());
        EXPECT_EQ(second.fullScreen, VARIANT_FALSE) << "isFullScreen is never written";
        first.fullScreen = VARIANT_FALSE;
        EXPECT_EQ(second, first);
    }
}

TEST_F(WindowDescriptionTest, AccessorsStoreValuesUnchanged) {
    EXPECT_EQ(description->put_clientWidth(-77), S_OK);
    EXPECT_EQ(description->put_isResizable(5), S_OK);
    EXPECT_EQ(description->put_type(42), S_OK);
    Snapshot s = snapshot(description.get());
    EXPECT_EQ(s.clientWidth, -77);
    EXPECT_EQ(s.resizable, 5);
    EXPECT_EQ(s.type, 42);
    std::int32_t value = 0;
    EXPECT_EQ(description->get_type(nullptr), E_INVALIDARG);
    EXPECT_EQ(description->get_title(nullptr), E_INVALIDARG);
    EXPECT_EQ(description->createTitle(nullptr), E_INVALIDARG);
    EXPECT_EQ(description->createElement(nullptr), E_INVALIDARG);
    EXPECT_EQ(description->get_isApplicationWindow(&value), S_OK);
    EXPECT_EQ(value, 100);

    loadNonDefault();
    EXPECT_EQ(description->reset(), S_OK);
    EXPECT_EQ(snapshot(description.get()), kDefaults);
}

TEST_F(WindowDescriptionTest, TitleSetterHoldsOneReference) {
    ComPtr<ITitleDescription> first, second, got;
    description->createTitle(first.put());
    description->createTitle(second.put());
    description->put_title(first.get());
    ASSERT_EQ(description->get_title(got.put()), S_OK);
    EXPECT_EQ(got.get(), first.get());
    got.reset();
    // Taking the object's own reference away shows how many remain.
    EXPECT_EQ(first->AddRef(), 3u); // ours, the description's, this one
    first->Release();
    description->put_title(second.get());
    EXPECT_EQ(first->AddRef(), 2u) << "the old title was dropped";
    first->Release();
    description->put_title(nullptr);
    EXPECT_EQ(description->get_title(got.put()), S_OK);
    EXPECT_FALSE(got);
}

TEST_F(WindowDescriptionTest, InterfacesAnswered) {
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> support;
    ComPtr<IWindowDescription> self;
    EXPECT_EQ(ComPtr<IWindowDescription>(description.get()).as(dispatch), S_OK);
    EXPECT_EQ(dispatch.as(support), S_OK);
    EXPECT_EQ(support.as(self), S_OK);
    EXPECT_EQ(self.get(), static_cast<IWindowDescription*>(description.get()));
    std::uint32_t count = 9;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IDispatch::iid), S_FALSE);
}

TEST(ElementDescriptionTest, TextAndFlagRules) {
    ComPtr<ElementDescription> element = makeObject<ElementDescription>();
    Bstr text = Bstr(u"stale");
    ASSERT_EQ(element->get_cssSelector(&text), S_OK);
    EXPECT_FALSE(text.isNull());
    EXPECT_EQ(text.view(), u"");
    element->put_cssClass(Bstr()); // absent becomes empty
    ASSERT_EQ(element->get_cssClass(&text), S_OK);
    EXPECT_FALSE(text.isNull());
    VARIANT_BOOL flag = 0;
    element->put_optional(1); // only VARIANT_TRUE sets the flag
    element->get_optional(&flag);
    EXPECT_EQ(flag, VARIANT_FALSE);
    element->put_optional(VARIANT_TRUE);
    element->get_optional(&flag);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(element->get_cssSelector(nullptr), E_POINTER);
    EXPECT_EQ(element->get_optional(nullptr), E_POINTER);
    ComPtr<TitleDescription> title = makeObject<TitleDescription>();
    EXPECT_EQ(title->get_caption(nullptr), E_POINTER);
}

TEST(ChangeHookTest, EverySetterReportsItsMember) {
    struct Recording final : ElementDescriptionBase<Recording, IElementDescription> {
        std::vector<DescriptionMember> seen;
        void onChanged(DescriptionMember member) override { seen.push_back(member); }
    };
    ComPtr<Recording> element = makeObject<Recording>();
    element->put_cssSelector(Bstr(u"#a"));
    element->put_cssClass(Bstr(u"b"));
    element->put_optional(VARIANT_TRUE);
    EXPECT_EQ(element->seen,
              (std::vector{DescriptionMember::cssSelector, DescriptionMember::cssClass,
                           DescriptionMember::optional}));
}

TEST(DefaultDeclarationTest, SourceIsTheBuiltInText) {
    EXPECT_EQ(builtinDialogDeclarationSource(),
              u"<ui:dialog xmlns:ui=\"urn:schemas-tavimark-mixed1.0\">\t\t\t\t\t\t<title "
              u"cssSelector=\"#e_window_title\" optional =\"true\">\t\t\t\t\t\t\t<buttonClose "
              u"cssSelector=\"#e_close_btn\" cssClass=\"e_close_btn\" optional "
              u"=\"true\"/>\t\t\t\t\t\t\t<buttonMinimize cssSelector=\"#e_minimize_btn\" "
              u"cssClass=\"e_minimize_btn\" optional =\"true\"/>\t\t\t\t\t\t</title>\t\t\t\t\t"
              u"</ui:dialog>");
}

TEST(DefaultDeclarationTest, SerialisedFormIsAWindowWithTitleAndBothButtons) {
    const Bstr text = builtinDialogDeclaration();
    EXPECT_EQ(text.view(),
              u"<ui:window xmlns:ui=\"urn:schemas-tavimark-mixed1.0\"><title "
              u"cssSelector=\"#e_window_title\" optional=\"true\"><buttonClose "
              u"cssSelector=\"#e_close_btn\" cssClass=\"e_close_btn\" optional=\"true\"/>"
              u"<buttonMinimize cssSelector=\"#e_minimize_btn\" cssClass=\"e_minimize_btn\" "
              u"optional=\"true\"/></title></ui:window>");
}

} // namespace
} // namespace norv::markup
