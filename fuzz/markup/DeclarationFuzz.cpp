// Feeds arbitrary text to the declaration parser. Whatever parses must survive a trip
// through the serialiser: writing it and reading it back gives the same description
// (isFullScreen aside, which is never written).

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "markup/WindowDescription.h"
#include "platform/com/ErrorInfo.h"

using namespace norv::com;
using namespace norv::markup;

namespace {

struct Element {
    std::u16string selector, cssClass;
    VARIANT_BOOL optional = 0;
    bool operator==(const Element&) const = default;
};

struct State {
    std::int32_t type = 0, application = 0, width = 0, height = 0;
    VARIANT_BOOL minimized = 0, maximized = 0, resizable = 0, onTop = 0;
    std::optional<Element> title, caption, close, minimize;
    bool operator==(const State&) const = default;
};

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::optional<Element> read(IElementDescription* element) {
    if (!element)
        return std::nullopt;
    Element e;
    Bstr text;
    check(element->get_cssSelector(&text) == S_OK);
    e.selector = text.str();
    check(element->get_cssClass(&text) == S_OK);
    e.cssClass = text.str();
    check(element->get_optional(&e.optional) == S_OK);
    return e;
}

State capture(IWindowDescription* d) {
    State s;
    d->get_type(&s.type);
    d->get_isApplicationWindow(&s.application);
    d->get_clientWidth(&s.width);
    d->get_clientHeight(&s.height);
    d->get_isMinimizedBox(&s.minimized);
    d->get_isMaximizedBox(&s.maximized);
    d->get_isResizable(&s.resizable);
    d->get_isAlwaysOnTop(&s.onTop);
    ComPtr<ITitleDescription> title;
    d->get_title(title.put());
    if (title) {
        s.title = read(title.get());
        ComPtr<IElementDescription> child;
        title->get_caption(child.put());
        s.caption = read(child.get());
        title->get_buttonClose(child.put());
        s.close = read(child.get());
        title->get_buttonMinimize(child.put());
        s.minimize = read(child.get());
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bstr text = Bstr::fromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    ComPtr<WindowDescription> first = makeObject<WindowDescription>();
    const HRESULT hr = first->loadXml(text);
    clearErrorInfo();
    if (hr != S_OK)
        return 0;

    Bstr xml;
    check(first->toXml(&xml) == S_OK);
    ComPtr<WindowDescription> second = makeObject<WindowDescription>();
    check(second->loadXml(xml) == S_OK);
    check(capture(first.get()) == capture(second.get()));

    Bstr again;
    check(second->toXml(&again) == S_OK);
    check(again == xml);
    return 0;
}
