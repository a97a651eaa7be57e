#include "media/pipeline/MPRecorder.h"

#include <cmath>
#include <limits>
#include <utility>

#include "platform/com/Exceptions.h"

namespace norv::media {

using com::HRESULT;
using typelib::IMPRecorder;

namespace {

// A time in seconds as 100-ns units; nullopt when it does not fit.
std::optional<std::int64_t> hundredNanoseconds(double seconds) {
    const double units = seconds * 1e7;
    if (!std::isfinite(units) || units <= -9.2e18 || units >= 9.2e18)
        return std::nullopt;
    return static_cast<std::int64_t>(units);
}

[[noreturn]] void raise(const RecordingFailure& f) {
    throw com::OleException(f.hr, f.message);
}

[[noreturn]] void raise(const FileOutcome& f) {
    throw com::OleException(f.hr, f.message);
}

} // namespace

com::ComPtr<MPRecorder> MPRecorder::create(HRESULT& result) {
    auto recorder = com::makeObject<MPRecorder>();
    recorder->graph_ = RecorderGraph::create(result);
    if (recorder->graph_)
        recorder->audio_ = &recorder->graph_->audioSource();
    return recorder;
}

MPRecorder::MPRecorder() = default;

MPRecorder::~MPRecorder() {
    std::lock_guard lock(lock_);
    try {
        if (graph_ && graph_->active())
            stopLocked();
    } catch (...) {
        // Nothing to tell anyone any more.
    }
}

// IMPPlugin

HRESULT MPRecorder::startup() {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        started_ = true;
        // A pending record is carried out once. The player starts its parts again when a
        // pipeline is built or its first sample comes; a record still marked pending then
        // would resume a recording paused meanwhile.
        if (!std::exchange(recordPending_, false))
            return com::S_OK;
        return recordLocked();
    });
}

HRESULT MPRecorder::shutdown() {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        if (!started_)
            return com::S_FALSE;
        started_ = false;
        if (!graph_)
            return com::S_OK;
        // A failure of the recording waits for script's next call.
        if (auto why = stopLocked(); why && !unreported_)
            unreported_ = std::move(why);
        return com::S_OK;
    });
}

HRESULT MPRecorder::get_id(com::Variant* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    *pVal = com::Variant();
    return com::S_OK;
}

HRESULT MPRecorder::get_started(com::VARIANT_BOOL* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    *pVal = started_ ? com::VARIANT_TRUE : com::VARIANT_FALSE;
    return com::S_OK;
}

HRESULT MPRecorder::get_init(com::Variant* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    *pVal = init_;
    return com::S_OK;
}

HRESULT MPRecorder::put_init(const com::Variant& pVal) {
    std::lock_guard lock(lock_);
    init_ = pVal;
    return com::S_OK;
}

HRESULT MPRecorder::get_settings(com::Variant* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    *pVal = settings_;
    return com::S_OK;
}

HRESULT MPRecorder::put_settings(const com::Variant& pVal) {
    std::lock_guard lock(lock_);
    settings_ = pVal;
    return com::S_OK;
}

HRESULT MPRecorder::get_services(com::IDispatch** pVal) {
    std::lock_guard lock(lock_);
    return services_.copyTo(pVal);
}

HRESULT MPRecorder::put_services(com::IDispatch* pVal) {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        services_ = pVal;
        stream_.reset();
        if (pVal == nullptr)
            return com::S_OK;
        com::ComPtr<typelib::IMPPlayerServices> services;
        HRESULT hr = services_.as(services);
        if (com::failed(hr)) {
            com::ComPtr<typelib::IMPPlayer> player;
            hr = services_.as(player);
            if (com::succeeded(hr))
                hr = player->get_services(services.put());
            if (com::succeeded(hr) && !services)
                hr = com::E_POINTER;
        }
        if (com::succeeded(hr))
            hr = services->get_stream(stream_.put());
        if (com::failed(hr)) {
            services_.reset();
            stream_.reset();
        }
        return hr;
    });
}

// IMPRecorder

HRESULT MPRecorder::get_file(com::Bstr* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        if (!graph_)
            return com::OLE_E_BLANK;
        *pVal = com::Bstr(com::utf8ToUtf16(graph_->location()));
        return com::S_OK;
    });
}

HRESULT MPRecorder::put_file(const com::Bstr& pVal) {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        if (pVal.isNull())
            return com::E_POINTER;
        std::lock_guard lock(lock_);
        if (!graph_)
            return com::OLE_E_BLANK;
        // The file being written is not emptied under the recording.
        if (state_ != State::stopped)
            throw com::OleException(com::VFW_E_WRONG_STATE,
                                    u"The file cannot change while a recording runs.");
        const auto path = RecordingFile::resolve(pVal.view(), RecordingFile::executableFolder());
        if (!path)
            throw com::OleException(com::E_INVALIDARG,
                                    u"The name does not name a file of this computer.");
        if (auto r = RecordingFile::createFolders(*path); !r.ok())
            raise(r);
        if (auto r = RecordingFile::prepare(*path, nullptr); !r.ok())
            raise(r);
        graph_->setLocation(*path);
        return com::S_OK;
    });
}

HRESULT MPRecorder::get_duration(double* pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    std::lock_guard lock(lock_);
    return graph_ ? com::E_NOTIMPL : com::OLE_E_BLANK;
}

HRESULT MPRecorder::readState(com::VARIANT_BOOL* pVal, State wanted) {
    if (pVal == nullptr)
        return com::E_POINTER;
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        if (!graph_)
            return com::OLE_E_BLANK;
        raisePendingFailure();
        *pVal = state_ == wanted ? com::VARIANT_TRUE : com::VARIANT_FALSE;
        return com::S_OK;
    });
}

HRESULT MPRecorder::get_paused(com::VARIANT_BOOL* pVal) {
    return readState(pVal, State::paused);
}

HRESULT MPRecorder::get_stoped(com::VARIANT_BOOL* pVal) {
    return readState(pVal, State::stopped);
}

HRESULT MPRecorder::get_recording(com::VARIANT_BOOL* pVal) {
    return readState(pVal, State::running);
}

HRESULT MPRecorder::stop() {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        if (!graph_)
            return com::OLE_E_BLANK;
        raisePendingFailure();
        if (auto why = stopLocked())
            raise(*why);
        return com::S_OK;
    });
}

HRESULT MPRecorder::pause() {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        if (!graph_)
            return com::OLE_E_BLANK;
        raisePendingFailure();
        switch (state_) {
        case State::stopped:
            return com::VFW_E_WRONG_STATE;
        case State::paused:
            return com::S_FALSE;
        case State::running:
            graph_->setPaused(true);
            state_ = State::paused;
            return com::S_OK;
        }
        return com::E_UNEXPECTED;
    });
}

HRESULT MPRecorder::record() {
    return com::guard(IMPRecorder::iid, [&]() -> HRESULT {
        std::lock_guard lock(lock_);
        return recordLocked();
    });
}

HRESULT MPRecorder::recordLocked() {
    if (!graph_ || !stream_)
        return com::OLE_E_BLANK;
    raisePendingFailure();
    if (!started_) {
        recordPending_ = true;
        return com::S_FALSE;
    }
    switch (state_) {
    case State::running:
        return com::S_FALSE;
    case State::paused:
        graph_->setPaused(false);
        state_ = State::running;
        return com::S_OK;
    case State::stopped:
        break;
    }
    try {
        const HRESULT hr = startLocked();
        if (com::failed(hr))
            stopLocked();
        return hr;
    } catch (...) {
        stopLocked();
        throw;
    }
}

HRESULT MPRecorder::startLocked() {
    const std::string path = graph_->location();
    if (path.empty())
        return com::OLE_E_BLANK;

    // The stream's type first, so that a file is never emptied for a recording that
    // cannot start.
    typelib::AMMediaType type;
    std::int32_t streams = 0;
    if (com::succeeded(stream_->getStreamType(typelib::mpsAudio, &type)) &&
        RecorderGraph::capsOfMediaType(type) && com::succeeded(audio_->setMediaType(type)))
        streams |= typelib::mpsAudio;
    if (streams == 0)
        return com::OLE_E_BLANK;

    FileIdentity identity;
    if (auto r = RecordingFile::createFolders(path); !r.ok())
        raise(r);
    if (auto r = RecordingFile::prepare(path, &identity); !r.ok())
        raise(r);
    if (auto why = graph_->start(type, identity))
        raise(*why);
    streams_ = streams;
    state_ = State::running;
    insertedInto_ = stream_;
    return stream_->insertFilter(static_cast<typelib::IMPStreamFilter*>(this), streams);
}

std::optional<RecordingFailure> MPRecorder::stopLocked() {
    if (auto stream = std::move(insertedInto_))
        stream->removeFilter(static_cast<typelib::IMPStreamFilter*>(this),
                             typelib::mpsAudio | typelib::mpsVideo);
    streams_ = 0;
    recordPending_ = false;
    state_ = State::stopped;
    return graph_ ? graph_->finish() : std::nullopt;
}

void MPRecorder::raisePendingFailure() {
    if (auto why = std::move(unreported_)) {
        unreported_.reset();
        raise(*why);
    }
    if (graph_ && graph_->active() && graph_->failed()) {
        if (auto why = stopLocked())
            raise(*why);
    }
}

// IMPStreamFilter

HRESULT MPRecorder::process(typelib::MPStreamType type, const com::Variant& timeStart,
                            const com::Variant& timeEnd, const com::Variant& dataBuff,
                            const com::Variant& dataSize) {
    const std::uint8_t* bytes =
        dataBuff.vt() == (com::VT_UI1 | com::VT_BYREF) ? dataBuff.byteRef() : nullptr;
    std::uint32_t size = 0;
    if (dataSize.vt() == com::VT_I4)
        size = static_cast<std::uint32_t>(dataSize.i4());
    else if (dataSize.vt() == com::VT_UI4)
        size = dataSize.ui4();
    std::optional<std::int64_t> start, stop;
    if (timeStart.vt() == com::VT_R8 && timeEnd.vt() == com::VT_R8) {
        start = hundredNanoseconds(timeStart.r8());
        stop = hundredNanoseconds(timeEnd.r8());
        if (!start || !stop)
            start = stop = std::nullopt;
    }
    if (bytes == nullptr || size == 0)
        return com::E_NOTIMPL;
    if ((type & typelib::mpsAudio) != 0) {
        if (audio_ == nullptr)
            return com::OLE_E_BLANK;
        return audio_->deliver(bytes, size, start ? &*start : nullptr, stop ? &*stop : nullptr);
    }
    if ((type & typelib::mpsVideo) != 0)
        return com::VFW_E_NOT_CONNECTED; // the video stream is not recorded
    return com::E_NOTIMPL;
}

} // namespace norv::media
