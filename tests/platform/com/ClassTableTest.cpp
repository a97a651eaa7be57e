#include <gtest/gtest.h>

#include <string>

#include "platform/com/ClassTable.h"

using namespace norv::com;

namespace {

struct INamed : IUnknown {
    static constexpr IID iid = guid("{5A0F5A0F-0000-4000-8000-000000000200}");
    using Base = IUnknown;
    virtual std::string name() = 0;
};

class Named final : public ComObject<Named, INamed> {
public:
    explicit Named(std::string n = {}) : name_(std::move(n)) {}
    std::string name() override { return name_; }

private:
    std::string name_;
};

// A factory making Named objects that carry its label.
ComPtr<IClassFactory> factoryNamed(std::string label) {
    return makeClassFactory([label](IUnknown* outer, const IID& iid, void** out) {
        return Named::createInstance(outer, iid, out, label);
    });
}

std::string create(const CLSID& clsid, HRESULT* hr = nullptr) {
    ComPtr<INamed> obj;
    HRESULT result = createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, obj);
    if (hr)
        *hr = result;
    return obj ? obj->name() : std::string("none");
}

TEST(ClassTable, ProgramClassesTakePrecedenceOverPlatformClasses) {
    constexpr CLSID clsid = guid("{5A0F5A0F-0000-4000-8000-000000000201}");
    HRESULT hr = S_OK;
    EXPECT_EQ(create(clsid, &hr), "none");
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

    setPlatformClass(clsid, factoryNamed("platform").get());
    EXPECT_EQ(create(clsid), "platform");

    std::uint32_t first = 0, second = 0;
    ASSERT_EQ(registerClassObject(clsid, factoryNamed("program").get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &first),
              S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(create(clsid), "program");
    EXPECT_EQ(create(clsid), "program");
    ASSERT_EQ(registerClassObject(clsid, factoryNamed("newer").get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &second),
              S_OK);
    EXPECT_EQ(create(clsid), "newer");

    // Revoking falls back step by step to the platform's class.
    ASSERT_EQ(revokeClassObject(second), S_OK);
    EXPECT_EQ(create(clsid), "program");
    ASSERT_EQ(revokeClassObject(first), S_OK);
    EXPECT_EQ(create(clsid), "platform");
    EXPECT_EQ(revokeClassObject(first), CO_E_OBJNOTREG);

    // The platform classes are in-process only.
    ComPtr<INamed> obj;
    EXPECT_EQ(createInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, obj), REGDB_E_CLASSNOTREG);
    setPlatformClass(clsid, nullptr);
    EXPECT_EQ(create(clsid, &hr), "none");
}

TEST(ClassTable, SingleUseAndSuspendedRegistrations) {
    constexpr CLSID clsid = guid("{5A0F5A0F-0000-4000-8000-000000000202}");
    std::uint32_t once = 0, later = 0;
    ASSERT_EQ(registerClassObject(clsid, factoryNamed("once").get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_SINGLEUSE, &once),
              S_OK);
    ASSERT_EQ(registerClassObject(clsid, factoryNamed("later").get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &later),
              S_OK);
    EXPECT_EQ(create(clsid), "once");
    HRESULT hr = S_OK;
    EXPECT_EQ(create(clsid, &hr), "none");
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    ASSERT_EQ(resumeClassObjects(), S_OK);
    EXPECT_EQ(create(clsid), "later");
    EXPECT_EQ(revokeClassObject(once), S_OK);
    EXPECT_EQ(revokeClassObject(later), S_OK);
}

TEST(ClassTable, FactoryMayRevokeAndReregisterItselfWhileCreating) {
    constexpr CLSID clsid = guid("{5A0F5A0F-0000-4000-8000-000000000203}");
    setPlatformClass(clsid, factoryNamed("platform").get());
    std::uint32_t cookie = 0;
    int calls = 0;
    // Like an interceptor: steps aside, creates the platform's object through the table,
    // then puts itself back.
    ComPtr<IClassFactory> interceptor;
    interceptor = makeClassFactory([&](IUnknown* outer, const IID& iid, void** out) -> HRESULT {
        ++calls;
        EXPECT_EQ(revokeClassObject(cookie), S_OK);
        ComPtr<INamed> inner;
        HRESULT hr = createInstance(clsid, outer, CLSCTX_INPROC_SERVER, inner);
        EXPECT_EQ(registerClassObject(clsid, interceptor.get(), CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        if (failed(hr))
            return hr;
        ComPtr<Named> wrapped = makeObject<Named>("wrapped " + inner->name());
        return wrapped->QueryInterface(iid, out);
    });
    ASSERT_EQ(registerClassObject(clsid, interceptor.get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_EQ(create(clsid), "wrapped platform");
    EXPECT_EQ(create(clsid), "wrapped platform");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(revokeClassObject(cookie), S_OK);
    interceptor.reset(); // the lambda refers to itself through this pointer
    EXPECT_EQ(create(clsid), "platform");
    setPlatformClass(clsid, nullptr);
}

TEST(ClassTable, AggregationRulesOfCreation) {
    constexpr CLSID clsid = guid("{5A0F5A0F-0000-4000-8000-000000000204}");
    std::uint32_t cookie = 0;
    EXPECT_EQ(registerClassObject(clsid, nullptr, CLSCTX_ALL, 0, &cookie), E_INVALIDARG);
    ASSERT_EQ(registerClassObject(clsid, makeClassFactoryFor<Named>().get(), CLSCTX_ALL,
                                  REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ComPtr<Named> outer = makeObject<Named>("outer");
    // Aggregated creation may only ask for IUnknown.
    ComPtr<INamed> wrong;
    EXPECT_EQ(createInstance(clsid, outer->unknown(), CLSCTX_ALL, wrong), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(wrong.get(), nullptr);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(createInstance(clsid, outer->unknown(), CLSCTX_ALL, inner), S_OK);
    // The inner unknown is not the outer object's identity...
    EXPECT_NE(inner.get(), outer->unknown());
    // ...but the inner object's interfaces delegate to the outer one.
    ComPtr<INamed> named;
    ASSERT_EQ(inner->QueryInterface(INamed::iid, named.putVoid()), S_OK);
    EXPECT_TRUE(sameObject(named.get(), outer->unknown()));
    EXPECT_EQ(named->name(), "");
    named.reset();
    inner.reset();
    EXPECT_EQ(createInstance(clsid, nullptr, CLSCTX_ALL, INamed::iid, nullptr), E_POINTER);
    EXPECT_EQ(revokeClassObject(cookie), S_OK);
}

} // namespace
