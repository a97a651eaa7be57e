#pragma once
// The shell's script-visible interfaces: host, UI settings, native window, platform object
// and its services.

#include "typelib/EventInterfaces.h"

namespace norv::typelib {

struct ITaviUISettings : IDispatch {
    static constexpr IID iid = guid("{A29D58A0-F9D4-4EBE-B21D-9A337FD2A119}");
    using Base = IDispatch;

    virtual HRESULT get_splashScreenURI(Bstr* pVal) = 0;
    virtual HRESULT put_splashScreenURI(const Bstr& pVal) = 0;
    virtual HRESULT get_errorDialogURI(Bstr* pVal) = 0;
    virtual HRESULT put_errorDialogURI(const Bstr& pVal) = 0;
    virtual HRESULT get_dialogSettingsDefault(Bstr* pVal) = 0;
    virtual HRESULT put_dialogSettingsDefault(const Bstr& pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviUISettings;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviUISettings", u"Local ID: UISettings",
            propget(1, u"splashScreenURI", &I::get_splashScreenURI),
            propput(1, u"splashScreenURI", &I::put_splashScreenURI, {u"pVal"}),
            propget(2, u"errorDialogURI", &I::get_errorDialogURI),
            propput(2, u"errorDialogURI", &I::put_errorDialogURI, {u"pVal"}),
            propget(3, u"dialogSettingsDefault", &I::get_dialogSettingsDefault),
            propput(3, u"dialogSettingsDefault", &I::put_dialogSettingsDefault, {u"pVal"}));
        return info;
    }

protected:
    ~ITaviUISettings() = default;
};

struct ITaviHost : IDispatch {
    static constexpr IID iid = guid("{9AE0E5C8-B636-49F0-AA5B-C7A56A975F9F}");
    using Base = IDispatch;

    virtual HRESULT get_application(IDispatch** pVal) = 0;
    virtual HRESULT put_application(IDispatch* pVal) = 0;
    virtual HRESULT get_isEmulation(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT get_uiSettings(ITaviUISettings** pVal) = 0;
    virtual HRESULT get_userAgentProperties(Bstr* pVal) = 0;
    virtual HRESULT put_userAgentProperties(const Bstr& pVal) = 0;
    virtual HRESULT run(const Bstr& StartupURI, const Bstr& Caption) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviHost;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviHost", u"Prog ID: Tavimark.Host",
            propget(1, u"application", &I::get_application),
            propput(1, u"application", &I::put_application, {u"pVal"}),
            propget(2, u"isEmulation", &I::get_isEmulation),
            propget(3, u"uiSettings", &I::get_uiSettings),
            propget(4, u"userAgentProperties", &I::get_userAgentProperties),
            propput(4, u"userAgentProperties", &I::put_userAgentProperties, {u"pVal"}),
            method(0x60020006, u"run", &I::run, {u"StartupURI", u"Caption"}));
        return info;
    }

protected:
    ~ITaviHost() = default;
};

struct ITaviWindow : IEventTarget {
    static constexpr IID iid = guid("{343F5332-6876-431B-BF35-F4C7EE13832F}");
    using Base = IEventTarget;

    virtual HRESULT setType(TaviWindowTypes type) = 0;
    virtual HRESULT getType(TaviWindowTypes* pVal) = 0;
    virtual HRESULT setApplicationWindow(VARIANT_BOOL newVal) = 0;
    virtual HRESULT getApplicationWindow(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT setMinimizedBox(VARIANT_BOOL newVal) = 0;
    virtual HRESULT getMinimizedBox(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT setMaximizedBox(VARIANT_BOOL newVal) = 0;
    virtual HRESULT getMaximizedBox(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT setResizable(VARIANT_BOOL newVal) = 0;
    virtual HRESULT getResizable(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT setAlwaysOnTop(VARIANT_BOOL newVal) = 0;
    virtual HRESULT getAlwaysOnTop(VARIANT_BOOL* pVal) = 0;
    virtual HRESULT beginResizing(std::int32_t minWidth, std::int32_t minHeigth,
                                  std::int32_t maxWidth, std::int32_t maxHeigth,
                                  std::int32_t gravity) = 0;
    virtual HRESULT abortResizing() = 0;
    virtual HRESULT beginMove() = 0;
    virtual HRESULT abortMove() = 0;
    virtual HRESULT resizeBy(std::int32_t x, std::int32_t y) = 0;
    virtual HRESULT resizeTo(std::int32_t x, std::int32_t y) = 0;
    virtual HRESULT moveBy(std::int32_t x, std::int32_t y) = 0;
    virtual HRESULT moveTo(std::int32_t x, std::int32_t y) = 0;
    virtual HRESULT minimize() = 0;
    virtual HRESULT maximize() = 0;
    virtual HRESULT close() = 0;
    virtual HRESULT reload(VARIANT_BOOL useSplashScreen) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviWindow;
        // beginResizing's arguments are optional without defaults: a missing one is 0,
        // which the window treats as "not given".
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviWindow", u"ITaviWindow Interface", method(3, u"setType", &I::setType, {u"type"}),
            method(4, u"getType", &I::getType),
            method(5, u"setApplicationWindow", &I::setApplicationWindow, {u"newVal"}),
            method(6, u"getApplicationWindow", &I::getApplicationWindow),
            method(7, u"setMinimizedBox", &I::setMinimizedBox, {u"newVal"}),
            method(8, u"getMinimizedBox", &I::getMinimizedBox),
            method(9, u"setMaximizedBox", &I::setMaximizedBox, {u"newVal"}),
            method(10, u"getMaximizedBox", &I::getMaximizedBox),
            method(11, u"setResizable", &I::setResizable, {u"newVal"}),
            method(12, u"getResizable", &I::getResizable),
            method(13, u"setAlwaysOnTop", &I::setAlwaysOnTop, {u"newVal"}),
            method(14, u"getAlwaysOnTop", &I::getAlwaysOnTop),
            method(15, u"beginResizing", &I::beginResizing,
                   {optional(u"minWidth"), optional(u"minHeigth"), optional(u"maxWidth"),
                    optional(u"maxHeigth"), optional(u"gravity")}),
            method(16, u"abortResizing", &I::abortResizing),
            method(17, u"beginMove", &I::beginMove), method(18, u"abortMove", &I::abortMove),
            method(19, u"resizeBy", &I::resizeBy, {u"x", u"y"}),
            method(20, u"resizeTo", &I::resizeTo, {u"x", u"y"}),
            method(21, u"moveBy", &I::moveBy, {u"x", u"y"}),
            method(22, u"moveTo", &I::moveTo, {u"x", u"y"}), method(23, u"minimize", &I::minimize),
            method(24, u"maximize", &I::maximize), method(25, u"close", &I::close),
            method(1000, u"reload", &I::reload, {u"useSplashScreen"}));
        return info;
    }

protected:
    ~ITaviWindow() = default;
};

struct ITaviDisplay : IDispatch {
    static constexpr IID iid = guid("{0406807F-C40B-4A82-8C7B-16C6ACFF68BC}");
    using Base = IDispatch;

    virtual HRESULT enableScreenSaver(IDispatch* Window, VARIANT_BOOL newVal) = 0;
    virtual HRESULT enablePowerOff(IDispatch* Window, VARIANT_BOOL newVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviDisplay;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviDisplay", u"ITaviDisplay Interface",
            method(1, u"enableScreenSaver", &I::enableScreenSaver, {u"Window", u"newVal"}),
            method(2, u"enablePowerOff", &I::enablePowerOff, {u"Window", u"newVal"}));
        return info;
    }

protected:
    ~ITaviDisplay() = default;
};

struct ITaviMedia : IDispatch {
    static constexpr IID iid = guid("{19845FB1-88A2-4176-B542-C5F933393842}");
    using Base = IDispatch;

    virtual HRESULT createMediaPlayer(IDispatch* Owner, IDispatch** pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviMedia;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviMedia", u"ITaviMedia Interface",
            method(1, u"createMediaPlayer", &I::createMediaPlayer, {u"Owner"}));
        return info;
    }

protected:
    ~ITaviMedia() = default;
};

struct ITaviFileDialog : IEventTarget {
    static constexpr IID iid = guid("{03217B37-CA29-4421-85C1-8A503E25B30D}");
    using Base = IEventTarget;

    virtual HRESULT get_TYPE_SAVE(Bstr* pVal) = 0;
    virtual HRESULT get_TYPE_OPEN(Bstr* pVal) = 0;
    virtual HRESULT get_FEATURE_PROMPT_OVERWRITE(std::int32_t* pVal) = 0;
    virtual HRESULT get_type(Bstr* pVal) = 0;
    virtual HRESULT put_type(const Bstr& pVal) = 0;
    virtual HRESULT get_filter(Bstr* pVal) = 0;
    virtual HRESULT put_filter(const Bstr& pVal) = 0;
    virtual HRESULT get_title(Bstr* pVal) = 0;
    virtual HRESULT put_title(const Bstr& pVal) = 0;
    virtual HRESULT get_result(Bstr* pVal) = 0;
    virtual HRESULT get_features(std::int32_t* pVal) = 0;
    virtual HRESULT put_features(std::int32_t pVal) = 0;
    // FileName is missing (VT_ERROR, DISP_E_PARAMNOTFOUND) when script gives none.
    virtual HRESULT show(const Variant& FileName) = 0;
    virtual HRESULT cancel() = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviFileDialog;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviFileDialog", u"ITaviFileDialog Interface",
            propget(3, u"TYPE_SAVE", &I::get_TYPE_SAVE),
            propget(4, u"TYPE_OPEN", &I::get_TYPE_OPEN),
            propget(5, u"FEATURE_PROMPT_OVERWRITE", &I::get_FEATURE_PROMPT_OVERWRITE),
            propget(6, u"type", &I::get_type), propput(6, u"type", &I::put_type, {u"pVal"}),
            propget(7, u"filter", &I::get_filter), propput(7, u"filter", &I::put_filter, {u"pVal"}),
            propget(8, u"title", &I::get_title), propput(8, u"title", &I::put_title, {u"pVal"}),
            propget(9, u"result", &I::get_result), propget(10, u"features", &I::get_features),
            propput(10, u"features", &I::put_features, {u"pVal"}),
            method(11, u"show", &I::show, {optional(u"FileName")}),
            method(12, u"cancel", &I::cancel));
        return info;
    }

protected:
    ~ITaviFileDialog() = default;
};

struct ITaviUi : IDispatch {
    static constexpr IID iid = guid("{82B2D79C-90B2-48D4-865D-AA1A55A9ABD0}");
    using Base = IDispatch;

    virtual HRESULT createFileDialog(ITaviFileDialog** pVal) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviUi;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviUi", u"ITaviUi Interface", method(1, u"createFileDialog", &I::createFileDialog));
        return info;
    }

protected:
    ~ITaviUi() = default;
};

struct ITaviPlatform : IDispatch {
    static constexpr IID iid = guid("{B221F32E-B07B-4FD4-AF85-10BF0A45CC40}");
    using Base = IDispatch;

    virtual HRESULT getService(const Bstr& newVal, IDispatch** pVal) = 0;
    virtual HRESULT obtainCrossDomainDocument(IDispatch* pHTMLIFrameElement,
                                              IDispatch** ppHTMLDocument) = 0;

    static const InterfaceInfo& interfaceInfo() {
        using I = ITaviPlatform;
        static const InterfaceInfo info = describeInterface<I>(
            u"ITaviPlatform", u"Prog ID: Tavimark.Platform",
            method(1, u"getService", &I::getService, {u"newVal", u"pVal"}),
            method(2, u"obtainCrossDomainDocument", &I::obtainCrossDomainDocument,
                   {u"pHTMLIFrameElement", u"ppHTMLDocument"}));
        return info;
    }

protected:
    ~ITaviPlatform() = default;
};

} // namespace norv::typelib
