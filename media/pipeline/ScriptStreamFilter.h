#pragma once
// ScriptStreamFilter: a stream filter written in page script, as the taps call it.
//
// The page hands services.stream.insertFilter either an object with a `process` method or
// a function; the bridge gives native code a ScriptObject for it, and this class is that
// object's face as an IMPStreamFilter (a facet aggregated in the ScriptObject, so the
// filter lists see one pointer for one script object and removeFilter finds it). Each
// sample becomes a call process(type, timeStart, timeEnd, dataBuff, dataSize) on the
// page's script thread: dataBuff is a Uint8Array over the sample's bytes in the memory
// the UI shares with the page, and what script writes there is what plays.
//
// The call waits for someone else, so it is an IBoundedStreamFilter: it gives up at the
// deadline the tap names (the sample moves on without it), at once when the player is
// about to wait for its streaming threads (the interrupt token), and fails at once once
// the page's document is gone (navigation, a web process that died). A call that gave up
// never touches the sample's bytes again: script's late writes land in memory of its own.

#include "media/pipeline/PipelineInterfaces.h"
#include "platform/com/DispatchObject.h"
#include "platform/web/ScriptObject.h"
#include "typelib/PlayerInterfaces.h"

namespace norv::media {

class ScriptStreamFilter final
    : public com::ComObject<ScriptStreamFilter, com::DispatchImpl<typelib::IMPStreamFilter>,
                            IBoundedStreamFilter> {
public:
    // Lets every script object of the bridge answer IMPStreamFilter and
    // IBoundedStreamFilter from now on. Any thread; once is enough.
    static void enable();

    explicit ScriptStreamFilter(web::ScriptObject& script) : script_(script) {}

    // IMPStreamFilter: a call without a named deadline waits as long as a call of the
    // calling thread into the page does (BridgeConnection::workerCallTimeout off the UI
    // thread).
    com::HRESULT process(typelib::MPStreamType type, const com::Variant& timeStart,
                         const com::Variant& timeEnd, const com::Variant& dataBuff,
                         const com::Variant& dataSize) override;
    // IBoundedStreamFilter
    com::HRESULT processWithin(typelib::MPStreamType type, const com::Variant& timeStart,
                               const com::Variant& timeEnd, const com::Variant& dataBuff,
                               const com::Variant& dataSize,
                               std::chrono::steady_clock::time_point deadline,
                               std::stop_token interrupt) override;

private:
    static com::HRESULT make(web::ScriptObject& outer, com::IUnknown** inner);

    enum class Shape { unknown, method, function };
    web::ScriptObject& script_; // the outer object: it owns this one
    std::atomic<Shape> shape_{Shape::unknown};
};

} // namespace norv::media
