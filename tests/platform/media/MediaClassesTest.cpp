// The platform's media classes in the class table and the attribute store behind the
// activation objects.

#include <gtest/gtest.h>

#include <gst/gst.h>

#include "platform/com/ClassTable.h"
#include "platform/media/AttributeStore.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/PlayerHostInterfaces.h"

using namespace norv::com;
using namespace norv::platform::media;

// Under the leak checker: a library that GStreamer loads allocates a block with GLib while
// it is being initialised and never frees it. Only allocations made during library
// initialisation are excused; full stacks are needed to see where an allocation came from.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_init\n";
}

namespace {

constexpr GUID kFirst = guid("{9C3E1A10-0000-4000-8000-000000000001}");
constexpr GUID kSecond = guid("{9C3E1A10-0000-4000-8000-000000000002}");

class Plain final : public ComObject<Plain, IUnknown> {};

TEST(AttributeStoreTest, KeepsValuesByKeyInTheOrderTheyWereFirstSet) {
    ComPtr<IAttributes> store = createAttributeStore();
    Variant v;
    EXPECT_EQ(store->GetItem(kFirst, &v), E_INVALIDARG);
    ASSERT_EQ(store->SetItem(kFirst, Variant::fromI4(1)), S_OK);
    ASSERT_EQ(store->SetItem(kSecond, Variant::fromBstr(Bstr(u"two"))), S_OK);
    ASSERT_EQ(store->SetItem(kFirst, Variant::fromI4(3)), S_OK); // replaced in place
    std::uint32_t count = 0;
    store->GetCount(&count);
    EXPECT_EQ(count, 2u);
    GUID key;
    ASSERT_EQ(store->GetItemByIndex(0, &key, &v), S_OK);
    EXPECT_EQ(key, kFirst);
    EXPECT_EQ(v.i4(), 3);
    ASSERT_EQ(store->GetItemByIndex(1, &key, &v), S_OK);
    EXPECT_EQ(key, kSecond);
    EXPECT_EQ(v.bstr().toUtf8(), "two");
    EXPECT_EQ(store->GetItemByIndex(2, &key, &v), E_INVALIDARG);

    // Objects: kept with a reference, asked for an interface on the way out.
    auto object = makeObject<Plain>();
    ASSERT_EQ(store->SetUnknown(kSecond, object->unknown()), S_OK);
    ComPtr<IUnknown> back;
    ASSERT_EQ(store->GetUnknown(kSecond, IUnknown::iid, back.putVoid()), S_OK);
    EXPECT_TRUE(sameObject(back.get(), object->unknown()));
    EXPECT_EQ(store->GetUnknown(kSecond, IAttributes::iid, back.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(store->GetUnknown(kFirst, IUnknown::iid, back.putVoid()), DISP_E_TYPEMISMATCH);

    ASSERT_EQ(store->DeleteItem(kFirst), S_OK);
    ASSERT_EQ(store->GetItemByIndex(0, &key, &v), S_OK);
    EXPECT_EQ(key, kSecond);
    ASSERT_EQ(store->DeleteAllItems(), S_OK);
    store->GetCount(&count);
    EXPECT_EQ(count, 0u);
}

TEST(MediaClassesTest, ThePlatformActivationGivesOnePassThroughTransformUntilShutDown) {
    ASSERT_TRUE(registerMediaClasses());
    ComPtr<IActivate> activate;
    ASSERT_EQ(createInstance(CLSID_MediaActivate, nullptr, CLSCTX_INPROC_SERVER, activate), S_OK);
    ComPtr<IAudioTransform> first, again;
    ASSERT_EQ(activate->ActivateObject(IAudioTransform::iid, first.putVoid()), S_OK);
    ASSERT_EQ(activate->ActivateObject(IAudioTransform::iid, again.putVoid()), S_OK);
    EXPECT_EQ(first.get(), again.get());
    GstElement* element = nullptr;
    ASSERT_EQ(first->GetElement(&element), S_OK);
    ASSERT_TRUE(element);
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(element)), "identity");
    gst_object_unref(element);
    ASSERT_EQ(activate->ShutdownObject(), S_OK);
    ASSERT_EQ(activate->ActivateObject(IAudioTransform::iid, again.putVoid()), S_OK);
    EXPECT_NE(first.get(), again.get());
    ComPtr<IUnknown> other;
    EXPECT_EQ(activate->ActivateObject(IAttributes::iid, other.putVoid()), E_NOINTERFACE);
}

// What a program's wrapper does: create the platform's activation aggregated by an outer
// object of its own.
class Wrapper final : public ComObject<Wrapper, IUnknown> {
public:
    Wrapper() {
        result = norv::com::createInstance(CLSID_MediaActivate, unknown(), CLSCTX_INPROC_SERVER,
                                           IUnknown::iid, inner.putVoid());
    }
    HRESULT queryExtraInterface(const IID& iid, void** out) override {
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    HRESULT result;
    ComPtr<IUnknown> inner;
};

TEST(MediaClassesTest, ThePlatformActivationCanBeAggregatedAndAProgramClassComesFirst) {
    ASSERT_TRUE(registerMediaClasses());
    auto wrapper = makeObject<Wrapper>();
    ASSERT_EQ(wrapper->result, S_OK);
    ComPtr<IActivate> activate;
    ASSERT_EQ(ComPtr<IUnknown>(wrapper->unknown()).as(activate), S_OK);
    EXPECT_TRUE(sameObject(activate.get(), wrapper->unknown()));
    ComPtr<IAudioTransform> transform;
    EXPECT_EQ(activate->ActivateObject(IAudioTransform::iid, transform.putVoid()), S_OK);

    int made = 0;
    auto factory = makeClassFactory([&](IUnknown*, const IID&, void**) {
        ++made;
        return E_OUTOFMEMORY;
    });
    std::uint32_t cookie = 0;
    ASSERT_EQ(registerClassObject(CLSID_MediaActivate, factory.get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ComPtr<IActivate> mine;
    EXPECT_EQ(createInstance(CLSID_MediaActivate, nullptr, CLSCTX_INPROC_SERVER, mine),
              E_OUTOFMEMORY);
    EXPECT_EQ(made, 1);
    ASSERT_EQ(revokeClassObject(cookie), S_OK);
    EXPECT_EQ(createInstance(CLSID_MediaActivate, nullptr, CLSCTX_INPROC_SERVER, mine), S_OK);
}

} // namespace
