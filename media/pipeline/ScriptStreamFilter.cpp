#include "media/pipeline/ScriptStreamFilter.h"

#include <optional>

namespace norv::media {

using namespace com;

void ScriptStreamFilter::enable() {
    web::ScriptObject::addFacet({typelib::IMPStreamFilter::iid, IBoundedStreamFilter::iid}, &make);
}

HRESULT ScriptStreamFilter::make(web::ScriptObject& outer, IUnknown** inner) {
    return createInstance(outer.controllingUnknown(), IUnknown::iid,
                          reinterpret_cast<void**>(inner), outer);
}

HRESULT ScriptStreamFilter::process(typelib::MPStreamType type, const Variant& timeStart,
                                    const Variant& timeEnd, const Variant& dataBuff,
                                    const Variant& dataSize) {
    const bool home = [&] {
        auto c = script_.connection().lock();
        return c && c->onOwnThread();
    }();
    const auto deadline =
        home ? web::BridgeConnection::noDeadline
             : std::chrono::steady_clock::now() + web::BridgeConnection::workerCallTimeout;
    return processWithin(type, timeStart, timeEnd, dataBuff, dataSize, deadline, {});
}

HRESULT ScriptStreamFilter::processWithin(typelib::MPStreamType type, const Variant& timeStart,
                                          const Variant& timeEnd, const Variant& dataBuff,
                                          const Variant& dataSize,
                                          std::chrono::steady_clock::time_point deadline,
                                          std::stop_token interrupt) {
    if (interrupt.stop_requested())
        return web::RPC_E_CALL_CANCELED;
    if (!script_.live())
        return web::RPC_E_DISCONNECTED;
    Shape shape = shape_.load();
    if (shape == Shape::unknown) {
        // An object with a process method, or else the function itself.
        const std::optional<bool> method = script_.has(u"process", deadline, interrupt);
        if (!method)
            return script_.live() ? web::RPC_E_TIMEOUT : web::RPC_E_DISCONNECTED;
        shape = *method ? Shape::method : Shape::function;
        shape_.store(shape);
    }
    std::vector<Variant> args{Variant::fromI4(static_cast<std::int32_t>(type)), timeStart, timeEnd,
                              dataBuff, dataSize};
    Variant result;
    return script_.callUntil(shape == Shape::method ? std::u16string(u"process") : std::u16string(),
                             deadline, std::move(args), &result, nullptr, std::move(interrupt));
}

} // namespace norv::media
