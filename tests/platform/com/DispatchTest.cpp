#include <gtest/gtest.h>

#include <vector>

#include "platform/com/DispatchObject.h"
#include "platform/com/Exceptions.h"

using namespace norv::com;

namespace {

enum WidgetKind : std::int32_t { wkPlain = 0, wkFancy = 3 };
constexpr const char16_t* typeNameOf(WidgetKind) {
    return u"WidgetKind";
}

struct ITestTarget : IDispatch {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000100}");
    using Base = IDispatch;
    virtual HRESULT addListener(const Bstr& type, IDispatch* listener, VARIANT_BOOL useCapture) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<ITestTarget>(
            u"ITestTarget", nullptr,
            method(1, u"addListener", &ITestTarget::addListener,
                   {u"type", u"listener", optional(u"useCapture", Variant::fromBool(false))}));
        return info;
    }
};

struct ITestWidget : ITestTarget {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000101}");
    using Base = ITestTarget;
    virtual HRESULT get_name(Bstr* pVal) = 0;
    virtual HRESULT put_name(const Bstr& pVal) = 0;
    virtual HRESULT get_count(std::int32_t* pVal) = 0;
    virtual HRESULT put_count(std::int32_t pVal) = 0;
    virtual HRESULT get_gain(std::int32_t index, float* pVal) = 0;
    virtual HRESULT put_gain(std::int32_t index, float pVal) = 0;
    virtual HRESULT resize(std::int32_t width, std::int32_t height) = 0;
    virtual HRESULT show(const Variant& fileName) = 0;
    virtual HRESULT get_child(ITestWidget** pVal) = 0;
    virtual HRESULT putref_child(ITestWidget* pVal) = 0;
    virtual HRESULT fail(const Bstr& message) = 0;
    virtual HRESULT getKind(WidgetKind* pVal) = 0;
    virtual HRESULT setKind(WidgetKind kind) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<ITestWidget>(
            u"ITestWidget", u"A widget for tests",
            propget(2, u"name", &ITestWidget::get_name, {}, u"The widget's name"),
            propput(2, u"name", &ITestWidget::put_name),
            propget(3, u"count", &ITestWidget::get_count),
            propput(3, u"count", &ITestWidget::put_count),
            propget(4, u"gain", &ITestWidget::get_gain, {u"index"}),
            propput(4, u"gain", &ITestWidget::put_gain, {u"index"}),
            method(5, u"resize", &ITestWidget::resize,
                   {optional(u"width"), optional(u"height", Variant::fromI4(7))}),
            method(6, u"show", &ITestWidget::show, {optional(u"fileName")}),
            propget(7, u"child", &ITestWidget::get_child),
            propputref(7, u"child", &ITestWidget::putref_child),
            method(8, u"fail", &ITestWidget::fail, {u"message"}),
            method(9, u"getKind", &ITestWidget::getKind),
            method(10, u"setKind", &ITestWidget::setKind, {u"kind"}));
        return info;
    }
};

struct ITestSecond : IDispatch {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000102}");
    using Base = IDispatch;
    virtual HRESULT get_level(double* pVal) = 0;
    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<ITestSecond>(
            u"ITestSecond", nullptr, propget(2, u"level", &ITestSecond::get_level));
        return info;
    }
};

class Widget final : public DispatchObject<Widget, ITestWidget, ITestSecond> {
public:
    HRESULT addListener(const Bstr& type, IDispatch* listener, VARIANT_BOOL useCapture) override {
        listenerType = type;
        this->listener = listener;
        capture = useCapture;
        return S_OK;
    }
    HRESULT get_name(Bstr* pVal) override {
        *pVal = name;
        return S_OK;
    }
    HRESULT put_name(const Bstr& pVal) override {
        name = pVal;
        return S_OK;
    }
    HRESULT get_count(std::int32_t* pVal) override {
        *pVal = count;
        return S_OK;
    }
    HRESULT put_count(std::int32_t pVal) override {
        count = pVal;
        return S_OK;
    }
    HRESULT get_gain(std::int32_t index, float* pVal) override {
        if (index < 0 || index >= 3)
            return E_INVALIDARG;
        *pVal = gains[index];
        return S_OK;
    }
    HRESULT put_gain(std::int32_t index, float pVal) override {
        if (index < 0 || index >= 3)
            return E_INVALIDARG;
        gains[index] = pVal;
        return S_OK;
    }
    HRESULT resize(std::int32_t width, std::int32_t height) override {
        size = {width, height};
        return S_OK;
    }
    HRESULT show(const Variant& fileName) override {
        shown = fileName;
        return S_FALSE;
    }
    HRESULT get_child(ITestWidget** pVal) override { return child.copyTo(pVal); }
    HRESULT putref_child(ITestWidget* pVal) override {
        child = pVal;
        return S_OK;
    }
    HRESULT fail(const Bstr& message) override {
        if (message.isEmpty())
            return E_ACCESSDENIED;
        return guard(ITestWidget::iid,
                     [&]() -> HRESULT { throw DispatchException(message.str()); });
    }
    HRESULT getKind(WidgetKind* pVal) override {
        *pVal = kind;
        return S_OK;
    }
    HRESULT setKind(WidgetKind k) override {
        kind = k;
        return S_OK;
    }
    HRESULT get_level(double* pVal) override {
        *pVal = 0.5;
        return S_OK;
    }
    std::uint32_t refs() const { return refCount(); }

    Bstr listenerType;
    ComPtr<IDispatch> listener;
    VARIANT_BOOL capture = 1;
    Bstr name = Bstr::empty();
    std::int32_t count = 0;
    float gains[3] = {0, 0, 0};
    std::pair<std::int32_t, std::int32_t> size{-1, -1};
    Variant shown;
    ComPtr<ITestWidget> child;
    WidgetKind kind = wkPlain;
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        widget = makeObject<Widget>();
        ASSERT_EQ(widget->QueryInterface(IDispatch::iid, disp.putVoid()), S_OK);
    }
    void TearDown() override { clearErrorInfo(); }

    // Calls by name with arguments in call order.
    HRESULT call(std::u16string_view name, std::vector<Variant> args, Variant* result = nullptr,
                 std::uint16_t flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
        return invokeByName(disp.get(), name, flags, args, result);
    }
    // Invokes an identifier with COM-order arguments and optional named arguments.
    HRESULT raw(DISPID id, std::uint16_t flags, std::vector<Variant> comArgs,
                std::vector<DISPID> named = {}, Variant* result = nullptr,
                ExcepInfo* excep = nullptr, std::uint32_t* argErr = nullptr) {
        DispParams p{comArgs, named};
        return disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, p, result, excep, argErr);
    }

    ComPtr<Widget> widget;
    ComPtr<IDispatch> disp;
};

TEST_F(DispatchTest, NamesMatchWithoutRegardToCase) {
    DISPID id = 0;
    EXPECT_EQ(getIdOfName(disp.get(), u"NAME", id), S_OK);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(getIdOfName(disp.get(), u"ReSiZe", id), S_OK);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(getIdOfName(disp.get(), u"addlistener", id), S_OK); // from the base
    EXPECT_EQ(id, 1);
    EXPECT_EQ(getIdOfName(disp.get(), u"level", id), DISP_E_UNKNOWNNAME); // other interface
    EXPECT_EQ(id, DISPID_UNKNOWN);

    const Bstr names[3] = {Bstr(u"Resize"), Bstr(u"HEIGHT"), Bstr(u"depth")};
    DISPID ids[3] = {};
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    EXPECT_EQ(disp->GetIDsOfNames(IUnknown::iid, names, LOCALE_USER_DEFAULT, ids),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, PropertiesGetAndPutWithTheNamedPutArgument) {
    ASSERT_EQ(putPropertyByName(disp.get(), u"Name",
                                Variant::fromBstr(Bstr(std::u16string_view(u"a\0b", 3)))),
              S_OK);
    EXPECT_EQ(widget->name.length(), 3u);
    Variant out;
    ASSERT_EQ(call(u"name", {}, &out, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(out.vt(), VT_BSTR);
    EXPECT_EQ(out.bstr(), widget->name);

    // The put value converts to the declared type.
    ASSERT_EQ(putPropertyByName(disp.get(), u"count", Variant::fromBstr(Bstr(u"42"))), S_OK);
    EXPECT_EQ(widget->count, 42);
    // A put without the named argument takes the last positional argument.
    ASSERT_EQ(raw(3, DISPATCH_PROPERTYPUT, {Variant::fromR8(6.5)}), S_OK);
    EXPECT_EQ(widget->count, 6);
    // A put with no value at all.
    EXPECT_EQ(raw(3, DISPATCH_PROPERTYPUT, {}), DISP_E_BADPARAMCOUNT);
    // A named argument other than the put value on a put.
    EXPECT_EQ(raw(3, DISPATCH_PROPERTYPUT, {Variant::fromI4(1)}, {5}), DISP_E_PARAMNOTFOUND);
}

TEST_F(DispatchTest, ParameterisedPropertyTakesIndexAndValue) {
    // COM order: the named put value first, then the index.
    ASSERT_EQ(raw(4, DISPATCH_PROPERTYPUT, {Variant::fromR8(2.5), Variant::fromI4(1)},
                  {DISPID_PROPERTYPUT}),
              S_OK);
    EXPECT_FLOAT_EQ(widget->gains[1], 2.5f);
    Variant out;
    ASSERT_EQ(call(u"gain", {Variant::fromI4(1)}, &out), S_OK);
    EXPECT_EQ(out.vt(), VT_R4);
    EXPECT_FLOAT_EQ(out.r4(), 2.5f);
    EXPECT_EQ(call(u"gain", {}, &out), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(u"gain", {Variant::fromI4(9)}, &out), E_INVALIDARG);
}

TEST_F(DispatchTest, MissingAndOptionalArguments) {
    ASSERT_EQ(call(u"resize", {}), S_OK);
    EXPECT_EQ(widget->size, std::make_pair(0, 7)); // no default: zero; default 7
    ASSERT_EQ(call(u"resize", {Variant::fromI4(5)}), S_OK);
    EXPECT_EQ(widget->size, std::make_pair(5, 7));
    // An explicitly missing argument counts as not given.
    ASSERT_EQ(call(u"resize", {Variant::missing(), Variant::fromI4(9)}), S_OK);
    EXPECT_EQ(widget->size, std::make_pair(0, 9));
    EXPECT_EQ(call(u"resize", {Variant::fromI4(1), Variant::fromI4(2), Variant::fromI4(3)}),
              DISP_E_BADPARAMCOUNT);
    // A named argument by parameter position.
    ASSERT_EQ(raw(5, DISPATCH_METHOD, {Variant::fromI4(11)}, {1}), S_OK);
    EXPECT_EQ(widget->size, std::make_pair(0, 11));

    // An optional Variant without a default receives the missing marker.
    Variant result = Variant::fromI4(99);
    ASSERT_EQ(call(u"show", {}, &result), S_FALSE);
    EXPECT_TRUE(widget->shown.isMissing());
    EXPECT_EQ(result.vt(), VT_EMPTY);
    ASSERT_EQ(call(u"show", {Variant::fromBstr(Bstr(u"f.txt"))}), S_FALSE);
    EXPECT_EQ(widget->shown.bstr().toUtf8(), "f.txt");

    // Required arguments.
    EXPECT_EQ(call(u"addListener", {Variant::fromBstr(Bstr(u"moved"))}), DISP_E_BADPARAMCOUNT);
    ASSERT_EQ(call(u"addListener", {Variant::fromBstr(Bstr(u"moved")), Variant::null()}), S_OK);
    EXPECT_EQ(widget->capture, VARIANT_FALSE);
    EXPECT_EQ(widget->listener.get(), nullptr);
    std::uint32_t argErr = 77;
    EXPECT_EQ(raw(1, DISPATCH_METHOD, {Variant::null(), Variant::missing()}, {}, nullptr, nullptr,
                  &argErr),
              DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(argErr, 1u);
}

TEST_F(DispatchTest, ArgumentsConvertToDeclaredTypes) {
    ASSERT_EQ(
        call(u"addListener", {Variant::fromI4(5), Variant(), Variant::fromBstr(Bstr(u"TRUE"))}),
        S_OK);
    EXPECT_EQ(widget->listenerType.toUtf8(), "5");
    EXPECT_EQ(widget->capture, VARIANT_TRUE);

    std::uint32_t argErr = 77;
    EXPECT_EQ(raw(5, DISPATCH_METHOD, {Variant::fromI4(1), Variant::fromBstr(Bstr(u"wide"))}, {},
                  nullptr, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u); // COM index of the first argument
    EXPECT_EQ(call(u"resize", {Variant::fromR8(1e12)}), DISP_E_OVERFLOW);
    // An object argument that lacks the declared interface.
    ComPtr<IDispatch> second;
    ASSERT_EQ(widget->QueryInterface(ITestSecond::iid, second.putVoid()), S_OK);
    EXPECT_EQ(putPropertyByName(disp.get(), u"child", Variant::fromDispatch(second.get())), S_OK);
    // (the second interface belongs to the same widget, which has ITestWidget)
    EXPECT_EQ(widget->child.get(), static_cast<ITestWidget*>(widget.get()));
    widget->child.reset();
    EXPECT_EQ(
        raw(7, DISPATCH_PROPERTYPUTREF, {Variant::fromBstr(Bstr(u"x"))}, {DISPID_PROPERTYPUT}),
        DISP_E_TYPEMISMATCH);
    // Enumerations travel as VT_I4.
    ASSERT_EQ(call(u"setKind", {Variant::fromBstr(Bstr(u"3"))}), S_OK);
    Variant out;
    ASSERT_EQ(call(u"getKind", {}, &out), S_OK);
    EXPECT_EQ(out.vt(), VT_I4);
    EXPECT_EQ(out.i4(), wkFancy);
}

TEST_F(DispatchTest, ObjectResultsAndReferencesBalance) {
    ComPtr<Widget> other = makeObject<Widget>();
    ASSERT_EQ(putPropertyByName(disp.get(), u"child",
                                Variant::fromDispatch(static_cast<ITestWidget*>(other.get()))),
              S_OK);
    EXPECT_EQ(other->refs(), 2u);
    {
        Variant out;
        ASSERT_EQ(call(u"child", {}, &out, DISPATCH_PROPERTYGET), S_OK);
        EXPECT_EQ(out.vt(), VT_DISPATCH);
        EXPECT_TRUE(sameObject(out.dispatch(), other->unknown()));
        EXPECT_EQ(other->refs(), 3u);
    }
    EXPECT_EQ(other->refs(), 2u);
    ASSERT_EQ(putPropertyByName(disp.get(), u"child", Variant::null()), S_OK);
    EXPECT_EQ(other->refs(), 1u);
    Variant out;
    ASSERT_EQ(call(u"child", {}, &out, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(out.vt(), VT_DISPATCH);
    EXPECT_EQ(out.dispatch(), nullptr);
}

TEST_F(DispatchTest, WrongKindsAndIdentifiersAreNotFound) {
    Variant out;
    EXPECT_EQ(raw(999, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(raw(5, DISPATCH_PROPERTYGET, {}, {}, &out), DISP_E_MEMBERNOTFOUND); // a method
    EXPECT_EQ(raw(2, DISPATCH_METHOD, {}, {}, &out), DISP_E_MEMBERNOTFOUND);      // a property
    EXPECT_EQ(raw(9, DISPATCH_PROPERTYPUT, {Variant::fromI4(1)}, {DISPID_PROPERTYPUT}),
              DISP_E_MEMBERNOTFOUND);
    DispParams p{};
    EXPECT_EQ(disp->Invoke(2, IUnknown::iid, 0, DISPATCH_PROPERTYGET, p, &out, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, FailuresWithErrorInformationBecomeExceptions) {
    ExcepInfo excep;
    Variant args[1] = {Variant::fromBstr(Bstr(u"The window is screen mode now."))};
    EXPECT_EQ(raw(8, DISPATCH_METHOD, {args[0]}, {}, nullptr, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_FAIL);
    EXPECT_EQ(excep.description.toUtf8(), "The window is screen mode now.");
    EXPECT_FALSE(peekErrorInfo().has_value()); // moved into the exception
    // Without an exception record the HRESULT comes back and the information stays.
    EXPECT_EQ(raw(8, DISPATCH_METHOD, {args[0]}), E_FAIL);
    ASSERT_TRUE(peekErrorInfo().has_value());
    EXPECT_EQ(peekErrorInfo()->iid, ITestWidget::iid);
    // A plain failure, with stale information from before the call ignored.
    setErrorInfo(IID_NULL, Bstr(u"stale"));
    excep = ExcepInfo{};
    EXPECT_EQ(raw(8, DISPATCH_METHOD, {Variant::fromBstr(Bstr::empty())}, {}, nullptr, &excep),
              E_ACCESSDENIED);
    EXPECT_EQ(excep.scode, S_OK);
}

TEST_F(DispatchTest, EachInterfaceAnswersWithItsOwnTable) {
    ComPtr<IDispatch> second;
    ASSERT_EQ(widget->QueryInterface(ITestSecond::iid, second.putVoid()), S_OK);
    Variant out;
    ASSERT_EQ(invokeByName(second.get(), u"LEVEL", DISPATCH_PROPERTYGET, {}, &out), S_OK);
    EXPECT_EQ(out.r8(), 0.5);
    DISPID id = 0;
    EXPECT_EQ(getIdOfName(second.get(), u"name", id), DISP_E_UNKNOWNNAME);
    // IDispatch is the first interface's; the base interface shares the derived table.
    EXPECT_EQ(static_cast<void*>(disp.get()),
              static_cast<void*>(static_cast<ITestWidget*>(widget.get())));
    ComPtr<ITestTarget> base;
    ASSERT_EQ(widget->QueryInterface(ITestTarget::iid, base.putVoid()), S_OK);
    EXPECT_EQ(getIdOfName(base.get(), u"count", id), S_OK);
}

TEST_F(DispatchTest, TypeInformationDescribesTheInterface) {
    std::uint32_t count = 0;
    ASSERT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> ti;
    EXPECT_EQ(disp->GetTypeInfo(1, 0, ti.put()), DISP_E_BADINDEX);
    ASSERT_EQ(disp->GetTypeInfo(0, 0, ti.put()), S_OK);
    EXPECT_EQ(ti.get(), typeInfoOf<ITestWidget>()); // built once, cached
    const InterfaceInfo* info = nullptr;
    ASSERT_EQ(ti->GetInterfaceInfo(&info), S_OK);
    EXPECT_EQ(info->iid, ITestWidget::iid);
    EXPECT_EQ(info->base, &ITestTarget::interfaceInfo());
    ASSERT_EQ(info->funcs.front().name, u"addListener");
    const FuncInfo& add = info->funcs.front();
    ASSERT_EQ(add.params.size(), 3u);
    EXPECT_EQ(add.params[0].vt, VT_BSTR);
    EXPECT_EQ(add.params[1].vt, VT_DISPATCH);
    EXPECT_EQ(add.params[2].vt, VT_BOOL);
    EXPECT_TRUE(add.params[2].isOptional());
    EXPECT_TRUE(add.params[2].hasDefault());
    const FuncInfo* child = info->findForCall(7, DISPATCH_PROPERTYGET);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->retval->typeName(), u"ITestWidget");
    const FuncInfo* kind = info->findForCall(9, DISPATCH_METHOD);
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->retval->typeName(), u"WidgetKind");
    Bstr name, doc;
    ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, &name, &doc), S_OK);
    EXPECT_EQ(doc.toUtf8(), "A widget for tests");
    ASSERT_EQ(ti->GetDocumentation(2, &name, &doc), S_OK);
    EXPECT_EQ(name.toUtf8(), "name");
    EXPECT_EQ(doc.toUtf8(), "The widget's name");
    // The type information invokes too.
    Variant out;
    DispParams none{};
    ASSERT_EQ(ti->Invoke(static_cast<ITestWidget*>(widget.get()), 3, DISPATCH_PROPERTYGET, none,
                         &out, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(out.i4(), 0);
}

struct IBroken : IDispatch {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000103}");
    using Base = IDispatch;
    virtual HRESULT a(std::int32_t x, std::int32_t y) = 0;
};

TEST(DescribeInterface, RejectsMalformedTables) {
    EXPECT_THROW(describeInterface<IBroken>(u"IBroken", nullptr,
                                            method(1, u"a", &IBroken::a, {optional(u"x"), u"y"})),
                 std::logic_error);
    EXPECT_THROW(describeInterface<IBroken>(u"IBroken", nullptr, method(1, u"a", &IBroken::a),
                                            method(1, u"b", &IBroken::a)),
                 std::logic_error);
    EXPECT_THROW(describeInterface<IBroken>(u"IBroken", nullptr, propget(1, u"a", &IBroken::a)),
                 std::logic_error);
    EXPECT_THROW(describeInterface<IBroken>(u"IBroken", nullptr,
                                            method(1, u"a", &IBroken::a, {u"x", u"y", u"z"})),
                 std::logic_error);
}

} // namespace
