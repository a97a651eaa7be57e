// The stream part's script surface and its routes from the player, without playback: the
// filter lists before and after a tap exists, the media type while none was negotiated,
// the audio transform's activation, the video path's frame callback and the listener's
// period.

#include <gtest/gtest.h>

#include "media/pipeline/MPStream.h"
#include "media/pipeline/WaveFormat.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/PassThroughActivate.h"
#include "tests/media/pipeline/FilterDoubles.h"

using namespace norv::test;
using namespace norv::platform::media;
using norv::media::ISampleGrabberSinkCallback;
using norv::media::MPStream;
using norv::typelib::AMMediaType;
using norv::typelib::mpsAudio;
using norv::typelib::mpsVideo;

namespace {

class StreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(registerMediaClasses()); }

    // The platform's activation, marked as the control marks its audio transform's.
    static ComPtr<IActivate> audioActivation(const GUID& category = CATEGORY_AudioTransform) {
        ComPtr<IActivate> a = makeObject<PassThroughActivate>();
        a->SetItem(ATTR_TransformCategory, Variant::fromBstr(Bstr::fromUtf8(category.toString())));
        return a;
    }
    ComPtr<MPStream> stream = makeObject<MPStream>();
    ComPtr<RecordingFilter> f = makeObject<RecordingFilter>();
};

TEST_F(StreamTest, FiltersAreKeptBeforeATapExistsAndReachItLater) {
    EXPECT_EQ(stream->insertFilter(nullptr, mpsAudio), E_POINTER);
    EXPECT_EQ(stream->insertFilter(f.get(), 0), E_NOTIMPL);
    EXPECT_EQ(stream->insertFilter(f.get(), mpsAudio), S_FALSE);
    EXPECT_EQ(stream->insertFilter(f.get(), mpsAudio), S_FALSE);
    AMMediaType type;
    EXPECT_EQ(stream->getStreamType(mpsAudio, &type), OLE_E_BLANK);
    EXPECT_EQ(stream->getStreamType(mpsVideo, &type), OLE_E_BLANK);
    EXPECT_EQ(stream->getStreamType(norv::typelib::mpsUnknown, &type), E_NOTIMPL);
    EXPECT_EQ(stream->getStreamType(mpsAudio, nullptr), E_POINTER);

    ComPtr<IAudioTransform> transform;
    ASSERT_EQ(stream->wrapAudioActivation(audioActivation().get(), IAudioTransform::iid,
                                          transform.putVoid()),
              S_OK);
    auto tap = stream->tap(mpsAudio);
    ASSERT_TRUE(tap);
    EXPECT_TRUE(sameObject(transform.get(), static_cast<norv::typelib::IMPPlugin*>(tap.get())));
    // The tap took the filter kept before (once): inserting it again adds nothing.
    EXPECT_EQ(stream->insertFilter(f.get(), mpsAudio), S_FALSE);
    auto g = makeObject<RecordingFilter>();
    EXPECT_EQ(stream->insertFilter(g.get(), mpsAudio), S_OK);
    EXPECT_EQ(stream->insertFilter(g.get(), mpsAudio | mpsVideo), S_FALSE);
    // Typed only once a format is negotiated.
    EXPECT_EQ(stream->getStreamType(mpsAudio, &type), OLE_E_BLANK);

    // Type 0 removes from both lists.
    EXPECT_EQ(stream->removeFilter(g.get(), 0), S_FALSE);
    EXPECT_EQ(stream->insertFilter(g.get(), mpsAudio), S_OK);
    EXPECT_EQ(stream->removeFilter(g.get(), mpsAudio), S_OK);
    EXPECT_EQ(stream->removeFilter(g.get(), mpsAudio), S_FALSE);

    // The wrapped transform's element holds the platform's transform after the tap.
    GstElement* element = nullptr;
    ASSERT_EQ(transform->GetElement(&element), S_OK);
    ASSERT_TRUE(element);
    EXPECT_TRUE(GST_IS_BIN(element));
    GstElement* again = nullptr;
    transform->GetElement(&again);
    EXPECT_EQ(again, element);
    gst_object_unref(again);
    gst_object_unref(element);
}

TEST_F(StreamTest, OnlyTheAudioTransformsActivationIsWrapped) {
    ComPtr<IAudioTransform> out;
    // Unmarked: the store's failure; another category: left to others.
    ComPtr<IActivate> unmarked = makeObject<PassThroughActivate>();
    EXPECT_EQ(stream->wrapAudioActivation(unmarked.get(), IAudioTransform::iid, out.putVoid()),
              E_INVALIDARG);
    EXPECT_EQ(stream->wrapAudioActivation(audioActivation(GUID{}).get(), IAudioTransform::iid,
                                          out.putVoid()),
              S_FALSE);
    EXPECT_FALSE(out);
    EXPECT_FALSE(stream->tap(mpsAudio));
    // An interface the transform does not have: no tap is left behind.
    ComPtr<IUnknown> other;
    EXPECT_EQ(
        stream->wrapAudioActivation(audioActivation().get(), IVideoPresenter::iid, other.putVoid()),
        E_NOINTERFACE);
    EXPECT_FALSE(stream->tap(mpsAudio));
}

TEST_F(StreamTest, TheVideoPathsFrameCallbackCallsTheVideoFilters) {
    AMMediaType video;
    video.majortype = norv::media::kMediaTypeVideo;
    video.formattype = norv::media::kFormatVideoInfo;
    video.lSampleSize = 16;
    video.format.assign(88, 0);
    AMMediaType audio = video;
    audio.majortype = norv::media::kMediaTypeAudio;
    ComPtr<ISampleGrabberSinkCallback> callback;
    EXPECT_EQ(stream->videoCallback(audio, ISampleGrabberSinkCallback::iid, callback.putVoid()),
              hresult(0x80070032));
    EXPECT_EQ(stream->videoCallback(video, IAudioTransform::iid, callback.putVoid()),
              E_NOINTERFACE);
    stream->insertFilter(f.get(), mpsVideo);
    ASSERT_EQ(stream->videoCallback(video, ISampleGrabberSinkCallback::iid, callback.putVoid()),
              S_OK);
    AMMediaType type;
    EXPECT_EQ(stream->getStreamType(mpsVideo, &type), S_OK);
    EXPECT_EQ(type.lSampleSize, 16u);
    // A typed tap takes no second type.
    ComPtr<ISampleGrabberSinkCallback> second;
    EXPECT_EQ(stream->tap(mpsVideo)->frameCallback(video, ISampleGrabberSinkCallback::iid,
                                                   second.putVoid()),
              E_FAIL);

    std::uint8_t frame[16] = {};
    EXPECT_EQ(callback->OnProcessSample(norv::media::kMediaTypeVideo, 0, 20'000'000, 400'000, frame,
                                        sizeof frame),
              S_OK);
    auto calls = f->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].type, mpsVideo);
    EXPECT_DOUBLE_EQ(calls[0].start, 2.0);
    EXPECT_DOUBLE_EQ(calls[0].end, 2.04);
    EXPECT_EQ(calls[0].sizeType, VT_UI4);

    // Once the stream lets its taps go, the callback calls no filter.
    stream->detachTaps();
    callback->OnProcessSample(norv::media::kMediaTypeVideo, 0, 0, 400'000, frame, sizeof frame);
    EXPECT_EQ(f->count(), 1u);
}

TEST_F(StreamTest, TheListenersPeriodIsAtLeastFiftyMilliseconds) {
    auto listener = makeObject<RecordingFilter>(); // any dispatch object
    EXPECT_EQ(stream->setSpectrumListener(listener.get(), 49), E_INVALIDARG);
    EXPECT_EQ(stream->setSpectrumListener(listener.get(), 50), S_OK);
    EXPECT_EQ(stream->setSpectrumListener(nullptr, 0), S_OK);
}

} // namespace
