#include <gtest/gtest.h>

#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/Dispatch.h"
#include "platform/com/ErrorInfo.h"

using namespace norv::com;

namespace {

struct IFirst : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000010}");
    using Base = IUnknown;
    virtual int first() = 0;
};
struct ISecond : IFirst {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000011}");
    using Base = IFirst;
    virtual int second() = 0;
};
struct IInner : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000012}");
    using Base = IUnknown;
    virtual int inner() = 0;
};
struct IOther : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000013}");
    using Base = IUnknown;
};

int liveObjects = 0;

class InnerObject final : public ComObject<InnerObject, IInner> {
public:
    InnerObject() { ++liveObjects; }
    ~InnerObject() override { --liveObjects; }
    int inner() override { return 7; }
    std::uint32_t refs() const { return refCount(); }
};

// An outer object that aggregates InnerObject and keeps its IInner as well.
class OuterObject final : public ComObject<OuterObject, ISecond> {
public:
    OuterObject() {
        ++liveObjects;
        EXPECT_EQ(InnerObject::createInstance(unknown(), IUnknown::iid, innerUnknown_.putVoid()),
                  S_OK);
        EXPECT_EQ(innerInterface_.query(unknown(), innerUnknown_.get()), S_OK);
    }
    ~OuterObject() override { --liveObjects; }
    int first() override { return 1; }
    int second() override { return 2; }
    std::uint32_t refs() const { return refCount(); }
    IInner* cachedInner() const { return innerInterface_.get(); }

protected:
    HRESULT queryExtraInterface(const IID& iid, void** out) override {
        return innerUnknown_->QueryInterface(iid, out);
    }

private:
    ComPtr<IUnknown> innerUnknown_;
    InnerInterface<IInner> innerInterface_;
};

TEST(ComObject, QueryInterfaceFollowsTheBaseChain) {
    ComPtr<OuterObject> outer = makeObject<OuterObject>();
    ComPtr<IFirst> first;
    ASSERT_EQ(outer->QueryInterface(IFirst::iid, first.putVoid()), S_OK);
    EXPECT_EQ(first->first(), 1);
    ComPtr<IOther> other;
    EXPECT_EQ(outer->QueryInterface(IOther::iid, other.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(other.get(), nullptr);
    EXPECT_EQ(outer->QueryInterface(IFirst::iid, nullptr), E_POINTER);
    EXPECT_TRUE(sameObject(first.get(), outer->unknown()));
}

TEST(ComObject, AggregationSharesOneLifetime) {
    liveObjects = 0;
    {
        ComPtr<OuterObject> outer = makeObject<OuterObject>();
        EXPECT_EQ(liveObjects, 2);
        // The cached inner interface holds no reference on the outer object.
        EXPECT_EQ(outer->refs(), 1u);
        EXPECT_EQ(outer->cachedInner()->inner(), 7);

        // The inner interface, reached through the outer object, counts on the outer one.
        ComPtr<IInner> inner;
        ASSERT_EQ(outer->QueryInterface(IInner::iid, inner.putVoid()), S_OK);
        EXPECT_EQ(outer->refs(), 2u);
        EXPECT_EQ(inner->inner(), 7);

        // Identity: the inner object's interfaces answer the outer object's IUnknown.
        EXPECT_TRUE(sameObject(inner.get(), outer->unknown()));
        ComPtr<ISecond> back;
        ASSERT_EQ(inner->QueryInterface(ISecond::iid, back.putVoid()), S_OK);
        EXPECT_EQ(back->second(), 2);
        EXPECT_EQ(outer->refs(), 3u);

        // Dropping the outer object last keeps the inner object alive until then.
        outer.reset();
        back.reset();
        EXPECT_EQ(liveObjects, 2);
        EXPECT_EQ(inner->inner(), 7);
    }
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComObject, AggregatedCreationOnlyGivesTheInnerUnknown) {
    liveObjects = 0;
    ComPtr<OuterObject> outer = makeObject<OuterObject>();
    ComPtr<IInner> inner;
    EXPECT_EQ(InnerObject::createInstance(outer->unknown(), IInner::iid, inner.putVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner.get(), nullptr);
    EXPECT_EQ(InnerObject::createInstance(nullptr, IInner::iid, inner.putVoid()), S_OK);
    EXPECT_EQ(inner->inner(), 7);
    inner.reset();
    outer.reset();
    EXPECT_EQ(liveObjects, 0);
}

TEST(ComObject, SameObjectComparesIdentity) {
    ComPtr<OuterObject> a = makeObject<OuterObject>();
    ComPtr<OuterObject> b = makeObject<OuterObject>();
    EXPECT_TRUE(sameObject(nullptr, nullptr));
    EXPECT_FALSE(sameObject(a->unknown(), nullptr));
    EXPECT_FALSE(sameObject(a->unknown(), b->unknown()));
    ComPtr<IInner> inner;
    ASSERT_EQ(a->QueryInterface(IInner::iid, inner.putVoid()), S_OK);
    EXPECT_TRUE(sameObject(inner.get(), a->unknown()));
}

TEST(Guid, ParsesAndFormats) {
    constexpr GUID lib = guid("{41e779e3-07c3-46f0-aee0-354490a27c53}");
    EXPECT_EQ(lib.toString(), "{41E779E3-07C3-46F0-AEE0-354490A27C53}");
    EXPECT_EQ(GUID::parse("41E779E3-07C3-46F0-AEE0-354490A27C53"), lib);
    EXPECT_FALSE(GUID::parse("{41E779E3-07C3-46F0-AEE0-354490A27C5}").has_value());
    EXPECT_FALSE(GUID::parse("{41E779E3-07C3-46F0-AEE0-354490A27C5G}").has_value());
    EXPECT_FALSE(GUID::parse("(41E779E3-07C3-46F0-AEE0-354490A27C53)").has_value());
    auto bytes = lib.toBytes();
    EXPECT_EQ(bytes[0], 0xE3); // Data1 little-endian
    EXPECT_EQ(bytes[4], 0xC3);
    EXPECT_EQ(bytes[8], 0xAE);
    EXPECT_EQ(GUID::fromBytes(bytes.data()), lib);
}

// A dispatch double that records the last call.
class RecordingDispatch final : public ComObject<RecordingDispatch, IDispatch> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID&, std::span<const Bstr> names, LCID lcid,
                          std::span<DISPID> ids) override {
        lastLcid = lcid;
        ids[0] = names[0].str() == u"classid" ? 17 : DISPID_UNKNOWN;
        return ids[0] == 17 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, const IID&, LCID, std::uint16_t flags, DispParams& params, Variant*,
                   ExcepInfo* excep, std::uint32_t*) override {
        lastId = id;
        flagsSeen.push_back(flags);
        args.assign(params.args.begin(), params.args.end());
        named.assign(params.namedArgs.begin(), params.namedArgs.end());
        if (failRef && flags == DISPATCH_PROPERTYPUTREF) {
            excep->description = Bstr(u"not by reference");
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }
    DISPID lastId = 0;
    LCID lastLcid = 0;
    bool failRef = false;
    std::vector<std::uint16_t> flagsSeen;
    std::vector<Variant> args;
    std::vector<DISPID> named;
};

TEST(DispatchHelpers, InvokeByNameReversesArgumentsAndNamesThePutValue) {
    ComPtr<RecordingDispatch> d = makeObject<RecordingDispatch>();
    DISPID id = 0;
    EXPECT_EQ(getIdOfName(d.get(), u"nothing", id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    ASSERT_EQ(getIdOfName(d.get(), u"classid", id), S_OK);
    EXPECT_EQ(id, 17);
    EXPECT_EQ(d->lastLcid, LOCALE_USER_DEFAULT);

    Variant call[2] = {Variant::fromI4(1), Variant::fromI4(2)};
    ASSERT_EQ(invokeByName(d.get(), u"classid", DISPATCH_METHOD, call, nullptr), S_OK);
    ASSERT_EQ(d->args.size(), 2u);
    EXPECT_EQ(d->args[0].i4(), 2); // the last argument first
    EXPECT_TRUE(d->named.empty());

    Variant value[1] = {Variant::fromBstr(Bstr(u"clsid:{X}"))};
    ASSERT_EQ(invokeByName(d.get(), u"classid", DISPATCH_PROPERTYPUT, value, nullptr), S_OK);
    ASSERT_EQ(d->named.size(), 1u);
    EXPECT_EQ(d->named[0], DISPID_PROPERTYPUT);
}

TEST(DispatchHelpers, PutByNameTriesReferenceFirstForObjects) {
    ComPtr<RecordingDispatch> d = makeObject<RecordingDispatch>();
    ASSERT_EQ(putPropertyByName(d.get(), u"classid", Variant::fromI4(3)), S_OK);
    EXPECT_EQ(d->flagsSeen, (std::vector<std::uint16_t>{DISPATCH_PROPERTYPUT}));
    d->flagsSeen.clear();
    ASSERT_EQ(putPropertyByName(d.get(), u"classid", Variant::fromDispatch(d.get())), S_OK);
    EXPECT_EQ(d->flagsSeen, (std::vector<std::uint16_t>{DISPATCH_PROPERTYPUTREF}));
    d->flagsSeen.clear();
    d->failRef = true;
    ASSERT_EQ(putPropertyByName(d.get(), u"classid", Variant::fromUnknown(d->unknown())), S_OK);
    EXPECT_EQ(d->flagsSeen,
              (std::vector<std::uint16_t>{DISPATCH_PROPERTYPUTREF, DISPATCH_PROPERTYPUT}));
    // The failed attempt's description was published; the caller clears what it ignores.
    clearErrorInfo();
    d->args.clear(); // drop the references the double kept
}

} // namespace
