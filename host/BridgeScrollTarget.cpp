#include "host/BridgeScrollTarget.h"

#include <string>

#include "host/ScrollMetricsText.h"
#include "platform/com/Bstr.h"
#include "platform/web/ScriptBridge.h"

namespace norv::host {

namespace {
// Whole pixels: scroll positions may be fractional on a scaled page.
constexpr std::u16string_view kReadMetrics =
    u"(function(){var e=document.scrollingElement||document.documentElement;"
    u"return e?[e.scrollTop,e.scrollLeft,e.scrollHeight,e.scrollWidth]"
    u".map(function(v){return Math.trunc(v);}).join(' '):'';})()";

std::u16string setter(std::u16string_view member, int value) {
    const std::string digits = std::to_string(value);
    std::u16string code = u"(function(){var e=document.scrollingElement||document.documentElement;"
                          u"if(e)e.";
    code += member;
    code += u"=";
    code.append(digits.begin(), digits.end());
    code += u";})()";
    return code;
}
} // namespace

std::optional<ScrollTarget::Metrics> BridgeScrollTarget::metrics() {
    com::Variant answer;
    if (com::failed(bridge_.runScript(kReadMetrics, &answer)) || answer.vt() != com::VT_BSTR)
        return std::nullopt;
    return parseScrollMetrics(answer.bstr().toUtf8());
}

void BridgeScrollTarget::setScrollTop(int value) {
    bridge_.runScript(setter(u"scrollTop", value));
}

void BridgeScrollTarget::setScrollLeft(int value) {
    bridge_.runScript(setter(u"scrollLeft", value));
}

} // namespace norv::host
