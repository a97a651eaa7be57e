#pragma once
// WindowDescription: the window a page declares (type, client size, caption boxes,
// behaviour and the title binding), read from and written to the declaration markup.

#include <mutex>
#include <string>
#include <string_view>

#include "markup/ElementDescription.h"
#include "markup/IWindowDescription.h"
#include "markup/WindowTypes.h"
#include "platform/com/ComObject.h"
#include "platform/com/SupportErrorInfo.h"

struct _xmlNode; // libxml2's element node

namespace norv::markup {

// The namespace of the declaration vocabulary.
inline constexpr std::string_view kDeclarationNamespace = "urn:schemas-tavimark-mixed1.0";

class WindowDescription
    : public com::ComObject<WindowDescription, IWindowDescription, com::ISupportErrorInfo> {
public:
    // IDispatch: the interface is not described by the type library.
    com::HRESULT GetTypeInfoCount(std::uint32_t* count) override;
    com::HRESULT GetTypeInfo(std::uint32_t index, com::LCID lcid, com::ITypeInfo** out) override;
    com::HRESULT GetIDsOfNames(const com::IID& riid, std::span<const com::Bstr> names,
                               com::LCID lcid, std::span<com::DISPID> ids) override;
    com::HRESULT Invoke(com::DISPID id, const com::IID& riid, com::LCID lcid, std::uint16_t flags,
                        com::DispParams& params, com::Variant* result, com::ExcepInfo* excepInfo,
                        std::uint32_t* argErr) override;

    // ISupportErrorInfo
    com::HRESULT InterfaceSupportsErrorInfo(const com::IID& iid) override;

    // IWindowDescription
    com::HRESULT loadFromDocument(com::IUnknown* document, com::VARIANT_BOOL* found) override;
    com::HRESULT createTitle(ITitleDescription** out) override;
    com::HRESULT createElement(IElementDescription** out) override;
    com::HRESULT toXml(com::Bstr* out) override;
    com::HRESULT loadXml(const com::Bstr& text) override;

    com::HRESULT get_type(std::int32_t* out) override { return get(type_, out); }
    com::HRESULT put_type(std::int32_t value) override {
        return put(type_, value, DescriptionMember::type);
    }
    com::HRESULT get_isApplicationWindow(std::int32_t* out) override {
        return get(isApplicationWindow_, out);
    }
    com::HRESULT put_isApplicationWindow(std::int32_t value) override {
        return put(isApplicationWindow_, value, DescriptionMember::isApplicationWindow);
    }
    com::HRESULT get_isMinimizedBox(com::VARIANT_BOOL* out) override {
        return get(isMinimizedBox_, out);
    }
    com::HRESULT put_isMinimizedBox(com::VARIANT_BOOL value) override {
        return put(isMinimizedBox_, value, DescriptionMember::isMinimizedBox);
    }
    com::HRESULT get_isMaximizedBox(com::VARIANT_BOOL* out) override {
        return get(isMaximizedBox_, out);
    }
    com::HRESULT put_isMaximizedBox(com::VARIANT_BOOL value) override {
        return put(isMaximizedBox_, value, DescriptionMember::isMaximizedBox);
    }
    com::HRESULT get_isResizable(com::VARIANT_BOOL* out) override { return get(isResizable_, out); }
    com::HRESULT put_isResizable(com::VARIANT_BOOL value) override {
        return put(isResizable_, value, DescriptionMember::isResizable);
    }
    com::HRESULT get_isAlwaysOnTop(com::VARIANT_BOOL* out) override {
        return get(isAlwaysOnTop_, out);
    }
    com::HRESULT put_isAlwaysOnTop(com::VARIANT_BOOL value) override {
        return put(isAlwaysOnTop_, value, DescriptionMember::isAlwaysOnTop);
    }
    com::HRESULT get_isFullScreen(com::VARIANT_BOOL* out) override {
        return get(isFullScreen_, out);
    }
    com::HRESULT put_isFullScreen(com::VARIANT_BOOL value) override {
        return put(isFullScreen_, value, DescriptionMember::isFullScreen);
    }
    com::HRESULT get_clientWidth(std::int32_t* out) override { return get(clientWidth_, out); }
    com::HRESULT put_clientWidth(std::int32_t value) override {
        return put(clientWidth_, value, DescriptionMember::clientWidth);
    }
    com::HRESULT get_clientHeight(std::int32_t* out) override { return get(clientHeight_, out); }
    com::HRESULT put_clientHeight(std::int32_t value) override {
        return put(clientHeight_, value, DescriptionMember::clientHeight);
    }
    com::HRESULT get_title(ITitleDescription** out) override;
    com::HRESULT put_title(ITitleDescription* value) override;

    com::HRESULT reset() override;

protected:
    // Called after every setter with the member it changed; does nothing here.
    virtual void onChanged(DescriptionMember /*member*/) {}

private:
    template <class T>
    com::HRESULT get(const T& member, T* out) {
        if (out == nullptr)
            return com::E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *out = member;
        return com::S_OK;
    }
    template <class T>
    com::HRESULT put(T& member, T value, DescriptionMember which) {
        {
            std::lock_guard lock(mutex_);
            member = value;
        }
        onChanged(which);
        return com::S_OK;
    }

    // These run under the lock.
    void resetMembers();
    com::HRESULT readDeclaration(const _xmlNode* root);
    com::HRESULT writeDeclaration(_xmlNode* root);

    std::recursive_mutex mutex_;
    std::int32_t type_ = wtAuto;
    std::int32_t isApplicationWindow_ = kTriStateAuto;
    com::VARIANT_BOOL isFullScreen_ = com::VARIANT_FALSE;
    com::VARIANT_BOOL isMinimizedBox_ = com::VARIANT_TRUE;
    com::VARIANT_BOOL isMaximizedBox_ = com::VARIANT_FALSE;
    com::VARIANT_BOOL isResizable_ = com::VARIANT_FALSE;
    com::VARIANT_BOOL isAlwaysOnTop_ = com::VARIANT_FALSE;
    std::int32_t clientWidth_ = kLengthAuto;
    std::int32_t clientHeight_ = kLengthAuto;
    com::ComPtr<ITitleDescription> title_;
};

// Repairs attributes written without a blank between the closing quote of one and the
// name of the next by inserting that blank.
std::u16string separateQuotes(std::u16string_view text);

} // namespace norv::markup
