#pragma once
// BridgeScrollTarget: the scrolling handler's element in a page of the host's browser: the
// top document's scrolling element, read and moved through the script bridge. Without a
// connected document there is no element.

#include "host/ScrollingHandler.h"

namespace norv::web {
class ScriptBridge;
}

namespace norv::host {

class BridgeScrollTarget final : public ScrollTarget {
public:
    explicit BridgeScrollTarget(web::ScriptBridge& bridge) : bridge_(bridge) {}

    std::optional<Metrics> metrics() override;
    void setScrollTop(int value) override;
    void setScrollLeft(int value) override;

private:
    web::ScriptBridge& bridge_;
};

} // namespace norv::host
