// The interception of the player's activations: the factory's registration while hooks
// exist, the hooks in order with the real activation as the last resort, and the wrapper
// around the platform's activation object.

#include <gtest/gtest.h>

#include "media/pipeline/MPActivateFactory.h"
#include "media/pipeline/MPActivateWrapper.h"
#include "platform/com/ClassTable.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/PassThroughActivate.h"

using namespace norv::com;
using namespace norv::platform::media;
using norv::media::IActivationHook;
using norv::media::MPActivateFactory;
using norv::media::MPActivateWrapper;

namespace {

// A transform a hook hands out.
class HookTransform final : public ComObject<HookTransform, IAudioTransform> {
public:
    HRESULT GetElement(GstElement** element) override {
        *element = nullptr;
        return E_NOTIMPL;
    }
};

class TestHook final : public ComObject<TestHook, IActivationHook> {
public:
    enum class Answer { object, nothingWithSuccess, failure };
    TestHook(Answer answer, std::vector<std::string>& log, std::string name)
        : answer_(answer), log_(log), name_(std::move(name)) {}
    HRESULT activate(IActivate* activation, const IID& iid, void** out) override {
        log_.push_back(name_);
        seen = activation;
        switch (answer_) {
        case Answer::object:
            return made->QueryInterface(iid, out);
        case Answer::nothingWithSuccess:
            return S_FALSE;
        case Answer::failure:
            return E_FAIL;
        }
        return E_UNEXPECTED;
    }
    ComPtr<HookTransform> made = makeObject<HookTransform>();
    IActivate* seen = nullptr;

private:
    Answer answer_;
    std::vector<std::string>& log_;
    std::string name_;
};

class ActivationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerMediaClasses()); }
    ComPtr<IActivate> create() {
        ComPtr<IActivate> a;
        EXPECT_EQ(createInstance(CLSID_MediaActivate, nullptr, CLSCTX_INPROC_SERVER, a), S_OK);
        return a;
    }
    std::vector<std::string> log;
};

TEST_F(ActivationTest, TheFactoryIsRegisteredWhileHooksExist) {
    EXPECT_FALSE(MPActivateFactory::inSlot());
    auto a = makeObject<TestHook>(TestHook::Answer::failure, log, "a");
    auto b = makeObject<TestHook>(TestHook::Answer::failure, log, "b");
    MPActivateFactory::registerHook(a.get());
    MPActivateFactory::registerHook(b.get());
    EXPECT_TRUE(MPActivateFactory::inSlot());
    // The player gets a wrapper that asks the hooks in order...
    auto wrapped = create();
    ComPtr<IAudioTransform> made;
    EXPECT_EQ(wrapped->ActivateObject(IAudioTransform::iid, made.putVoid()), S_OK);
    EXPECT_TRUE(made);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
    log.clear();
    // ... over the platform's object, whose attributes it shows.
    EXPECT_EQ(wrapped->SetItem(ATTR_TransformCategory, Variant::fromI4(7)), S_OK);
    Variant v;
    EXPECT_EQ(wrapped->GetItem(ATTR_TransformCategory, &v), S_OK);
    EXPECT_EQ(v.i4(), 7);
    std::uint32_t count = 0;
    EXPECT_EQ(wrapped->GetCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    MPActivateFactory::unregisterHook(a.get());
    EXPECT_TRUE(MPActivateFactory::inSlot());
    MPActivateFactory::unregisterHook(b.get());
    EXPECT_FALSE(MPActivateFactory::inSlot());
    EXPECT_TRUE(MPActivateFactory::hooks().empty());
    // Unwrapped again: the hooks are no longer asked.
    auto plain = create();
    ComPtr<IAudioTransform> t;
    EXPECT_EQ(plain->ActivateObject(IAudioTransform::iid, t.putVoid()), S_OK);
    EXPECT_TRUE(log.empty());

    // A new first hook registers a new factory.
    MPActivateFactory::registerHook(a.get());
    EXPECT_TRUE(MPActivateFactory::inSlot());
    MPActivateFactory::unregisterHook(a.get());
    EXPECT_FALSE(MPActivateFactory::inSlot());
}

TEST_F(ActivationTest, TheFirstHookThatMakesAnObjectWinsAndTheRealActivationIsTheLast) {
    auto declines = makeObject<TestHook>(TestHook::Answer::nothingWithSuccess, log, "declines");
    auto fails = makeObject<TestHook>(TestHook::Answer::failure, log, "fails");
    auto makes = makeObject<TestHook>(TestHook::Answer::object, log, "makes");
    auto never = makeObject<TestHook>(TestHook::Answer::object, log, "never");
    for (auto* h : {declines.get(), fails.get(), makes.get(), never.get()})
        MPActivateFactory::registerHook(h);
    auto activation = create();
    ComPtr<IAudioTransform> t;
    EXPECT_EQ(activation->ActivateObject(IAudioTransform::iid, t.putVoid()), S_OK);
    EXPECT_TRUE(sameObject(t.get(), makes->made->unknown()));
    EXPECT_EQ(log, (std::vector<std::string>{"declines", "fails", "makes"}));
    // Hooks get the real activation (aggregated inside the wrapper), not the wrapper.
    ASSERT_TRUE(makes->seen);
    EXPECT_NE(makes->seen, activation.get());
    Variant v;
    activation->SetItem(ATTR_TransformGraph, Variant::fromI4(3));
    EXPECT_EQ(makes->seen->GetItem(ATTR_TransformGraph, &v), S_OK);

    // Without a hook that makes one, the real activation's pass-through transform.
    MPActivateFactory::unregisterHook(makes.get());
    MPActivateFactory::unregisterHook(never.get());
    log.clear();
    auto again = create();
    t.reset();
    EXPECT_EQ(again->ActivateObject(IAudioTransform::iid, t.putVoid()), S_OK);
    ASSERT_TRUE(t);
    EXPECT_FALSE(sameObject(t.get(), makes->made->unknown()));
    EXPECT_EQ(log, (std::vector<std::string>{"declines", "fails"}));
    MPActivateFactory::unregisterHook(declines.get());
    MPActivateFactory::unregisterHook(fails.get());
}

TEST_F(ActivationTest, AWrapperWithoutARealObjectAnswersBlank) {
    auto wrapper = makeObject<MPActivateWrapper>();
    Variant v;
    ComPtr<IAudioTransform> t;
    EXPECT_EQ(wrapper->GetItem(ATTR_TransformCategory, &v), OLE_E_BLANK);
    EXPECT_EQ(wrapper->ActivateObject(IAudioTransform::iid, t.putVoid()), OLE_E_BLANK);
    EXPECT_EQ(wrapper->ShutdownObject(), OLE_E_BLANK);
}

} // namespace
