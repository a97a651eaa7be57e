#include "host/BridgeMutePage.h"

#include <string>

#include "platform/com/Exceptions.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

namespace {
// The `object` property of every `object` element, as one script array.
constexpr std::u16string_view kListObjects =
    u"Array.prototype.map.call(document.getElementsByTagName('object'), "
    u"function (e) { return e.object; })";

std::u16string indexName(std::int32_t index) {
    const std::string digits = std::to_string(index);
    return std::u16string(digits.begin(), digits.end());
}
} // namespace

std::vector<com::ComPtr<com::IDispatch>> BridgeMutePage::objectElementObjects() {
    com::Variant list;
    com::throwIfFailed(bridge_.runScript(kListObjects, &list));
    std::vector<com::ComPtr<com::IDispatch>> objects;
    if (list.vt() != com::VT_DISPATCH || list.dispatch() == nullptr)
        return objects;
    com::Variant length;
    com::throwIfFailed(
        com::invokeByName(list.dispatch(), u"length", com::DISPATCH_PROPERTYGET, {}, &length));
    com::Variant count;
    com::throwIfFailed(com::changeType(count, length, com::VT_I4));
    for (std::int32_t i = 0; i < count.i4(); ++i) {
        com::Variant item;
        com::throwIfFailed(
            com::invokeByName(list.dispatch(), indexName(i), com::DISPATCH_PROPERTYGET, {}, &item));
        objects.emplace_back(item.vt() == com::VT_DISPATCH ? item.dispatch() : nullptr);
    }
    return objects;
}

com::HRESULT BridgeMutePage::setScriptValue(std::u16string_view path, const com::Variant& value) {
    return bridge_.setScriptValue(path, value);
}

com::HRESULT BridgeMutePage::runScript(std::u16string_view code) {
    return bridge_.runScript(code);
}

} // namespace norv::host
