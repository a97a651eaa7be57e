#pragma once
// IEventTarget and IEvent: the small DOM-style event model of the native objects.

#include "typelib/NorvViewTypes.h"

namespace norv::typelib {

struct IEventTarget : IDispatch {
    static constexpr IID iid = guid("{839015EC-A19C-4A84-8EAE-B7343E310D20}");
    using Base = IDispatch;

    virtual HRESULT addEventListener(const Bstr& type, IDispatch* listener,
                                     VARIANT_BOOL useCapture) = 0;
    virtual HRESULT removeEventListener(const Bstr& type, IDispatch* listener,
                                        VARIANT_BOOL useCapture) = 0;

    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<IEventTarget>(
            u"IEventTarget", u"IEventTarget Interface",
            method(1, u"addEventListener", &IEventTarget::addEventListener,
                   {u"type", u"listener", optional(u"useCapture", Variant::fromBool(false))}),
            method(2, u"removeEventListener", &IEventTarget::removeEventListener,
                   {u"type", u"listener", optional(u"useCapture", Variant::fromBool(false))}));
        return info;
    }

protected:
    ~IEventTarget() = default;
};

struct IEvent : IDispatch {
    static constexpr IID iid = guid("{AABA8382-89AD-48A0-B14E-B56F8E658296}");
    using Base = IDispatch;

    virtual HRESULT get_type(Bstr* pVal) = 0;
    virtual HRESULT get_target(IDispatch** pVal) = 0;
    virtual HRESULT get_currentTarget(IDispatch** pVal) = 0;
    virtual HRESULT get_eventPhase(std::int32_t* pVal) = 0;
    virtual HRESULT get_bubbles(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_cancelable(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_timeStamp(Variant* pVal) = 0;
    virtual HRESULT stopPropagation() = 0;
    virtual HRESULT preventDefault() = 0;
    virtual HRESULT initEvent(const Bstr& eventTypeArg, VARIANT_BOOL canBubbleArg,
                              VARIANT_BOOL cancelableArg) = 0;

    static const InterfaceInfo& interfaceInfo() {
        static const InterfaceInfo info = describeInterface<IEvent>(
            u"IEvent", u"IEvent Interface", propget(1, u"type", &IEvent::get_type),
            propget(2, u"target", &IEvent::get_target),
            propget(3, u"currentTarget", &IEvent::get_currentTarget),
            propget(4, u"eventPhase", &IEvent::get_eventPhase),
            propget(5, u"bubbles", &IEvent::get_bubbles),
            propget(6, u"cancelable", &IEvent::get_cancelable),
            propget(7, u"timeStamp", &IEvent::get_timeStamp),
            method(8, u"stopPropagation", &IEvent::stopPropagation),
            method(9, u"preventDefault", &IEvent::preventDefault),
            method(10, u"initEvent", &IEvent::initEvent,
                   {u"eventTypeArg", u"canBubbleArg", u"cancelableArg"}));
        return info;
    }

protected:
    ~IEvent() = default;
};

} // namespace norv::typelib
