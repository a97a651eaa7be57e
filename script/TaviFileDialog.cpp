#include "script/TaviFileDialog.h"

#include "platform/com/Exceptions.h"

namespace norv::script {

using namespace com;

namespace {

constexpr char16_t kInvalidType[] = u"Invalid dialog type.";
constexpr char16_t kShowing[] = u"The dialog is showing now.";
constexpr char16_t kOpen[] = u"open";
constexpr char16_t kSave[] = u"save";
constexpr std::int32_t kPromptOverwrite = 1;

HRESULT fail(HRESULT hr, const char16_t* text) {
    setErrorInfo(typelib::ITaviFileDialog::iid, Bstr(text));
    return hr;
}

HRESULT copyOut(const Bstr& value, Bstr* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = value.isNull() ? Bstr::empty() : value;
    return S_OK;
}

} // namespace

TaviFileDialog::TaviFileDialog(std::shared_ptr<FileChooser> chooser,
                               std::weak_ptr<DialogOwner> owner)
    : chooser_(std::move(chooser)), owner_(std::move(owner)) {}

TaviFileDialog::~TaviFileDialog() = default;

HRESULT TaviFileDialog::addEventListener(const Bstr& type, IDispatch* listener,
                                         VARIANT_BOOL useCapture) {
    return events_.addEventListener(type, listener, useCapture);
}

HRESULT TaviFileDialog::removeEventListener(const Bstr& type, IDispatch* listener,
                                            VARIANT_BOOL useCapture) {
    return events_.removeEventListener(type, listener, useCapture);
}

HRESULT TaviFileDialog::get_TYPE_SAVE(Bstr* pVal) {
    return copyOut(Bstr(kSave), pVal);
}

HRESULT TaviFileDialog::get_TYPE_OPEN(Bstr* pVal) {
    return copyOut(Bstr(kOpen), pVal);
}

HRESULT TaviFileDialog::get_FEATURE_PROMPT_OVERWRITE(std::int32_t* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    *pVal = kPromptOverwrite;
    return S_OK;
}

HRESULT TaviFileDialog::get_type(Bstr* pVal) {
    std::lock_guard lock(lock_);
    return copyOut(Bstr(type_ == open ? kOpen : type_ == save ? kSave : u""), pVal);
}

HRESULT TaviFileDialog::refuseWhileShowingLocked() {
    return showing_ > 0 ? fail(E_ABORT, kShowing) : S_OK;
}

HRESULT TaviFileDialog::put_type(const Bstr& pVal) {
    // Exactly one of the two words, compared with case; the type check comes first.
    const std::int32_t type = pVal.view() == kOpen   ? open
                              : pVal.view() == kSave ? save
                                                     : std::int32_t{none};
    if (type == none)
        return fail(E_INVALIDARG, kInvalidType);
    std::lock_guard lock(lock_);
    if (HRESULT hr = refuseWhileShowingLocked(); failed(hr))
        return hr;
    type_ = type;
    return S_OK;
}

HRESULT TaviFileDialog::get_filter(Bstr* pVal) {
    std::lock_guard lock(lock_);
    return copyOut(filter_, pVal);
}

HRESULT TaviFileDialog::put_filter(const Bstr& pVal) {
    std::lock_guard lock(lock_);
    if (HRESULT hr = refuseWhileShowingLocked(); failed(hr))
        return hr;
    filter_ = pVal.isNull() ? Bstr::empty() : pVal;
    return S_OK;
}

HRESULT TaviFileDialog::get_title(Bstr* pVal) {
    std::lock_guard lock(lock_);
    return copyOut(title_, pVal);
}

HRESULT TaviFileDialog::put_title(const Bstr& pVal) {
    std::lock_guard lock(lock_);
    if (HRESULT hr = refuseWhileShowingLocked(); failed(hr))
        return hr;
    title_ = pVal.isNull() ? Bstr::empty() : pVal;
    return S_OK;
}

HRESULT TaviFileDialog::get_result(Bstr* pVal) {
    std::lock_guard lock(lock_);
    return copyOut(result_, pVal);
}

HRESULT TaviFileDialog::get_features(std::int32_t* pVal) {
    if (pVal == nullptr)
        return E_POINTER;
    std::lock_guard lock(lock_);
    *pVal = features_;
    return S_OK;
}

HRESULT TaviFileDialog::put_features(std::int32_t pVal) {
    std::lock_guard lock(lock_);
    if (HRESULT hr = refuseWhileShowingLocked(); failed(hr))
        return hr;
    features_ = pVal;
    return S_OK;
}

bool TaviFileDialog::isShowing() {
    std::lock_guard lock(lock_);
    return showing_ > 0;
}

HRESULT TaviFileDialog::cancel() {
    return E_NOTIMPL;
}

HRESULT TaviFileDialog::show(const Variant& FileName) {
    return guard(typelib::ITaviFileDialog::iid, [&]() -> HRESULT {
        FileChooserRequest request;
        if (!FileName.isMissing() && FileName.vt() != VT_EMPTY && FileName.vt() != VT_NULL) {
            Variant name;
            if (HRESULT hr = changeType(name, FileName, VT_BSTR); failed(hr))
                return hr;
            if (!name.bstr().isEmpty())
                request.fileName = name.bstr().str();
        }
        {
            std::lock_guard lock(lock_);
            if (type_ != open && type_ != save)
                return fail(E_ABORT, kInvalidType);
            request.save = type_ == save;
            request.promptOverwrite = (features_ & kPromptOverwrite) != 0;
            request.filters = parseFileDialogFilters(filter_.view());
            request.title = title_.str();
            result_ = Bstr::empty();
            ++showing_;
        }
        // Whatever way the dialog ends, it is not showing any more.
        struct Shown {
            TaviFileDialog* self;
            ~Shown() {
                std::lock_guard lock(self->lock_);
                --self->showing_;
            }
        };
        std::optional<std::u16string> chosen;
        {
            Shown shown{this};
            if (auto owner = owner_.lock())
                request.parent = owner->dialogParent();
            try {
                chosen = chooser_->choose(request);
            } catch (const FrameworkException& e) {
                setErrorInfo(typelib::ITaviFileDialog::iid,
                             Bstr(std::u16string_view(e.message()).substr(0, 256)));
                return E_FAIL;
            }
            if (chosen) {
                std::lock_guard lock(lock_);
                result_ = Bstr(*chosen);
            }
        }
        // The listeners see the dialog closed: they may change it and show it again.
        events_.fire(chosen ? u"apply" : u"cancel", static_cast<typelib::ITaviFileDialog*>(this));
        return S_OK;
    });
}

} // namespace norv::script
