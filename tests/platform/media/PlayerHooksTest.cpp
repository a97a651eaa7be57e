// The control's hooks towards the program that hosts it: the site's services, the
// graph-creation calls with the pipeline, the audio transform's activation from the class
// table, the video presenter on the video path, and aggregation by an outer object.

#include <gtest/gtest.h>

#include <atomic>

#include "platform/com/ClassTable.h"
#include "platform/com/ConnectionPoint.h"
#include "platform/media/AttributeStore.h"
#include "platform/media/GstRef.h"
#include "tests/platform/media/PlayerTestSupport.h"
#include "tests/support/Process.h"

using namespace norv::test;

namespace {

std::string fileUrl(const std::filesystem::path& path) {
    return "file://" + path.string();
}

// Counts what passes an element's source pad: buffers, their total duration, and the
// format of the last caps.
struct Counter {
    std::atomic<int> buffers{0};
    std::atomic<gint64> duration{0};
    std::string format;
    std::mutex lock;

    void attach(GstElement* element) {
        GstPad* src = gst_element_get_static_pad(element, "src");
        gst_pad_add_probe(
            src,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                         GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                auto* self = static_cast<Counter*>(data);
                if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
                    ++self->buffers;
                    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
                    if (GST_BUFFER_DURATION_IS_VALID(b))
                        self->duration += static_cast<gint64>(GST_BUFFER_DURATION(b));
                } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_CAPS) {
                    GstCaps* caps = nullptr;
                    gst_event_parse_caps(GST_PAD_PROBE_INFO_EVENT(info), &caps);
                    const gchar* f =
                        gst_structure_get_string(gst_caps_get_structure(caps, 0), "format");
                    std::lock_guard guard(self->lock);
                    self->format = f ? f : "";
                }
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
        gst_object_unref(src);
    }
    std::string lastFormat() {
        std::lock_guard guard(lock);
        return format;
    }
};

// The program's own audio transform: an in-place element whose buffers it counts.
class CountingTransform final : public ComObject<CountingTransform, IAudioTransform> {
public:
    explicit CountingTransform(Counter& counter)
        : element_(GstRef<GstElement>::sink(gst_element_factory_make("identity", nullptr))) {
        counter.attach(element_.get());
    }
    HRESULT GetElement(GstElement** out) override {
        *out = GST_ELEMENT(gst_object_ref(element_.get()));
        return S_OK;
    }
    GstElement* element() const { return element_.get(); }

private:
    GstRef<GstElement> element_;
};

class ProgramActivate final : public ComObject<ProgramActivate, IActivate> {
public:
    ProgramActivate(std::vector<std::string>& calls, Counter& counter)
        : calls_(calls), counter_(counter) {}
    HRESULT GetItem(const GUID& k, Variant* v) override { return store_.getItem(k, v); }
    HRESULT SetItem(const GUID& k, const Variant& v) override { return store_.setItem(k, v); }
    HRESULT DeleteItem(const GUID& k) override { return store_.deleteItem(k); }
    HRESULT DeleteAllItems() override { return store_.deleteAllItems(); }
    HRESULT GetCount(std::uint32_t* c) override { return store_.getCount(c); }
    HRESULT GetItemByIndex(std::uint32_t i, GUID* k, Variant* v) override {
        return store_.getItemByIndex(i, k, v);
    }
    HRESULT GetUnknown(const GUID& k, const IID& i, void** o) override {
        return store_.getUnknown(k, i, o);
    }
    HRESULT SetUnknown(const GUID& k, IUnknown* v) override { return store_.setUnknown(k, v); }
    HRESULT ActivateObject(const IID& iid, void** out) override {
        calls_.push_back("ActivateObject");
        if (!transform_)
            transform_ = makeObject<CountingTransform>(counter_);
        return transform_->QueryInterface(iid, out);
    }
    HRESULT ShutdownObject() override {
        calls_.push_back("ShutdownObject");
        transform_.reset();
        return S_OK;
    }
    HRESULT DetachObject() override { return ShutdownObject(); }

private:
    std::vector<std::string>& calls_;
    Counter& counter_;
    AttributeStore store_;
    ComPtr<CountingTransform> transform_;
};

// A presenter whose element is made by a factory; it counts the frames leaving it.
class TestPresenter final : public ComObject<TestPresenter, IVideoPresenter> {
public:
    explicit TestPresenter(std::function<GstElement*()> make) : make_(std::move(make)) {}
    HRESULT CreateElement(GstElement** out) override {
        *out = make_();
        counter.attach(*out);
        element = *out;
        return S_OK;
    }
    Counter counter;
    GstElement* element = nullptr; // the control holds it

private:
    std::function<GstElement*()> make_;
};

GstElement* grayFilter() {
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=GRAY8");
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    return filter;
}

class PlayerHooksTest : public ::testing::Test {
protected:
    void SetUp() override { initMedia(); }
    TempDir dir;
};

TEST_F(PlayerHooksTest, SiteServicesGraphCallsAndTheProgramsTransformInOrder) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file);
    auto site = makeObject<FakeSite>();
    Counter counter;
    std::uint32_t cookie = 0;
    auto factory = makeClassFactory([&](IUnknown* outer, const IID& iid, void** out) {
        site->calls.push_back("CreateInstance");
        return ProgramActivate::createInstance(outer, iid, out, site->calls, counter);
    });
    ASSERT_EQ(registerClassObject(CLSID_MediaActivate, factory.get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
              S_OK);

    TestPlayer p;
    p.site(site.get());
    EXPECT_EQ(site->calls, (std::vector<std::string>{"QueryService remote", "GetServiceType",
                                                     "GetApplicationName", "GetScriptableObject",
                                                     "QueryService graph"}));
    site->calls.clear();
    std::string uriAtPreRender;
    GstState stateAtPostRender = GST_STATE_VOID_PENDING;
    GstElement* filterAtPostRender = nullptr;
    site->onPreRender = [&](GstElement* pipeline) {
        gchar* uri = nullptr;
        g_object_get(pipeline, "uri", &uri, nullptr);
        uriAtPreRender = uri ? uri : "";
        g_free(uri);
    };
    site->onPostRender = [&](GstElement* pipeline) {
        gst_element_get_state(pipeline, &stateAtPostRender, nullptr, 0);
        g_object_get(pipeline, "audio-filter", &filterAtPostRender, nullptr);
    };
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_EQ(site->calls,
              (std::vector<std::string>{"GetGraphCreationFlags", "PreRender", "CreateInstance",
                                        "ActivateObject", "PostRender"}));
    EXPECT_EQ(uriAtPreRender, fileUrl(file));
    EXPECT_EQ(stateAtPostRender, GST_STATE_PAUSED);
    ASSERT_TRUE(filterAtPostRender);
    // The program's transform saw the whole medium, before the sink.
    EXPECT_GT(counter.buffers, 0);
    EXPECT_NEAR(static_cast<double>(counter.duration) / GST_SECOND, probeDuration(file), 0.04);
    gst_object_unref(filterAtPostRender);

    // Changes that wait for the streaming threads are announced first.
    int notices = site->blockNotices;
    p.controls()->play();
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    p.controls()->stop();
    EXPECT_GT(site->blockNotices, notices);

    // Without the program's class the platform's pass-through transform is used; the
    // program's activation of the last medium is shut down when the medium changes.
    ASSERT_EQ(revokeClassObject(cookie), S_OK);
    site->calls.clear();
    GstElement* filter = nullptr;
    site->onPostRender = [&](GstElement* pipeline) {
        g_object_get(pipeline, "audio-filter", &filter, nullptr);
    };
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying; }));
    EXPECT_EQ(site->calls, (std::vector<std::string>{"ShutdownObject", "GetGraphCreationFlags",
                                                     "PreRender", "PostRender"}));
    ASSERT_TRUE(filter);
    EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(filter)), "identity");
    gst_object_unref(filter);
}

TEST_F(PlayerHooksTest, ASiteWithoutServicesStillPlays) {
    class PlainSite final : public ComObject<PlainSite, IOleClientSite> {
    public:
        HRESULT SaveObject() override { return E_NOTIMPL; }
        HRESULT GetMoniker(std::uint32_t, std::uint32_t, IUnknown**) override { return E_NOTIMPL; }
        HRESULT GetContainer(IUnknown**) override { return E_NOINTERFACE; }
        HRESULT ShowObject() override { return S_OK; }
        HRESULT OnShowWindow(bool) override { return S_OK; }
        HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    };
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    auto site = makeObject<PlainSite>();
    TestPlayer p;
    auto object = p.player.as<IOleObject>();
    ASSERT_EQ(object->SetClientSite(site.get()), S_OK);
    ComPtr<IOleClientSite> back;
    ASSERT_EQ(object->GetClientSite(back.put()), S_OK);
    EXPECT_EQ(back.get(), static_cast<IOleClientSite*>(site.get()));
    // Without remote services "custom" falls back to the control's own interface.
    EXPECT_EQ(p.player->put_uiMode(Bstr(u"custom")), S_OK);
    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    ASSERT_EQ(object->SetClientSite(nullptr), S_OK);
    ASSERT_EQ(object->GetClientSite(back.put()), S_OK);
    EXPECT_FALSE(back);
}

TEST_F(PlayerHooksTest, PresenterSeesEveryFrameInItsFormatAndChangesWhilePlaying) {
    auto file = dir.path() / "clip.webm";
    makeClip(file, 3.0);
    TestPlayer p;
    auto config = p.player.as<IVideoRenderConfig>();
    ASSERT_TRUE(config);
    auto gray = makeObject<TestPresenter>(grayFilter);
    ASSERT_EQ(config->put_presenter(gray.get()), S_OK);
    ComPtr<IVideoPresenter> current;
    config->get_presenter(current.put());
    EXPECT_EQ(current.get(), static_cast<IVideoPresenter*>(gray.get()));

    p.setUrl(fileUrl(file));
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psPlaying && gray->counter.buffers > 10; }));
    EXPECT_EQ(gray->counter.lastFormat(), "GRAY8");

    // Replaced while playing: the new element gets the frames, the old one none.
    auto plain =
        makeObject<TestPresenter>([] { return gst_element_factory_make("identity", nullptr); });
    ASSERT_EQ(config->put_presenter(plain.get()), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return plain->counter.buffers > 10; }));
    int grayFrames = gray->counter.buffers;
    ASSERT_TRUE(pumpUntil([&] { return plain->counter.buffers > 20; }));
    EXPECT_EQ(gray->counter.buffers, grayFrames);
    EXPECT_EQ(p.state(), psPlaying);

    // Removed while playing: playback goes on to the end.
    ASSERT_EQ(config->put_presenter(nullptr), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return p.state() == psMediaEnded; }));
    EXPECT_TRUE(p.log->errors.empty());
    // Every frame passed one presenter or the other while it was linked; the gray one
    // is out of the pipeline again.
    EXPECT_LE(gray->counter.buffers + plain->counter.buffers, 90);
    ASSERT_TRUE(pumpUntil([&] { return GST_OBJECT_PARENT(gray->element) == nullptr; }));
}

// An outer object aggregating the control, as the program's player object does.
class Outer final : public ComObject<Outer, IDispatch> {
public:
    Outer() {
        HRESULT hr = norv::com::createInstance(CLSID_MediaPlayer, unknown(), CLSCTX_INPROC_SERVER,
                                               IUnknown::iid, inner_.putVoid());
        if (failed(hr))
            throw std::runtime_error("cannot aggregate the control");
        player_.query(unknown(), inner_.get());
    }
    ~Outer() override {
        player_.reset();
        inner_.reset();
    }
    HRESULT GetTypeInfoCount(std::uint32_t* c) override { return player_->GetTypeInfoCount(c); }
    HRESULT GetTypeInfo(std::uint32_t i, LCID l, ITypeInfo** o) override {
        return player_->GetTypeInfo(i, l, o);
    }
    HRESULT GetIDsOfNames(const IID& r, std::span<const Bstr> n, LCID l,
                          std::span<DISPID> ids) override {
        return player_->GetIDsOfNames(r, n, l, ids);
    }
    HRESULT Invoke(DISPID id, const IID& r, LCID l, std::uint16_t f, DispParams& p, Variant* res,
                   ExcepInfo* e, std::uint32_t* a) override {
        return player_->Invoke(id, r, l, f, p, res, e, a);
    }
    IMediaPlayer* player() const { return player_.get(); }

protected:
    HRESULT queryExtraInterface(const IID& iid, void** out) override {
        return inner_ ? inner_->QueryInterface(iid, out) : E_NOINTERFACE;
    }

private:
    ComPtr<IUnknown> inner_;
    InnerInterface<IMediaPlayer> player_;
};

TEST_F(PlayerHooksTest, AggregatedTheControlAnswersThroughItsOuterObjectAndGoesWithIt) {
    auto file = dir.path() / "tone.ogg";
    makeTone(file, 1.0);
    auto outer = makeObject<Outer>();
    // Interfaces of the control are the outer object's: the same identity.
    auto view = ComPtr<IUnknown>(outer->unknown()).as<IPlayerView>();
    ASSERT_TRUE(view);
    EXPECT_TRUE(sameObject(view.get(), outer->unknown()));
    auto container = ComPtr<IUnknown>(outer->unknown()).as<IConnectionPointContainer>();
    ASSERT_TRUE(container);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IMediaPlayerEvents::iid, point.put()), S_OK);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_TRUE(sameObject(back.get(), outer->unknown()));
    back.reset();
    auto log = makeObject<EventLog>();
    std::uint32_t cookie = 0;
    ASSERT_EQ(point->Advise(log->unknown(), &cookie), S_OK);

    Variant url = Variant::fromBstr(Bstr::fromUtf8(fileUrl(file)));
    ASSERT_EQ(putPropertyByName(outer.get(), u"URL", url), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return log->saw(psMediaEnded); }));

    // Sub-objects keep the whole aggregate alive; dropping everything destroys it.
    ComPtr<IMediaControls> controls;
    outer->player()->get_controls(controls.put());
    point.reset();
    container.reset();
    view.reset();
    outer.reset();
    EXPECT_EQ(controls->play(), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return log->states.back() == psPlaying; }));
    controls.reset();
    // The control is gone with its pipeline: no further events arrive.
    std::size_t seen = log->states.size();
    pumpUntil([&] { return log->states.size() > seen; }, 1500ms);
    EXPECT_EQ(log->states.size(), seen);
}

} // namespace
