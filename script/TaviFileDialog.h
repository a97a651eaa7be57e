#pragma once
// TaviFileDialog: a file open or save dialog for script (ITaviFileDialog), made by the UI
// service's createFileDialog.
//
// Script sets `type` ("open" or "save", exactly), `filter` (see FileDialogFilter.h),
// `title` and `features` (FEATURE_PROMPT_OVERWRITE: a save dialog asks before it accepts
// a file that exists), listens for "apply" and "cancel", and calls show([fileName]). The
// dialog is modal for its owner (the page's host window); show returns when the user has
// closed it. Then the dialog fires "apply" (`result` holds the chosen file's full path)
// or "cancel" (`result` is empty) and show returns. While the dialog is open nothing of
// it can be changed: every put fails with E_ABORT and "The dialog is showing now.".
//
// UI thread only. No lock is held while the dialog runs or a listener is called.

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/com/DispatchObject.h"
#include "script/DialogOwner.h"
#include "script/EventTarget.h"
#include "script/FileChooser.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviFileDialog final : public com::DispatchObject<TaviFileDialog, typelib::ITaviFileDialog> {
public:
    // `chooser` runs the dialogs; `owner` (may be empty) is the window they are modal for.
    TaviFileDialog(std::shared_ptr<FileChooser> chooser, std::weak_ptr<DialogOwner> owner);
    ~TaviFileDialog() override;

    // IEventTarget
    com::HRESULT addEventListener(const com::Bstr& type, com::IDispatch* listener,
                                  com::VARIANT_BOOL useCapture) override;
    com::HRESULT removeEventListener(const com::Bstr& type, com::IDispatch* listener,
                                     com::VARIANT_BOOL useCapture) override;

    // ITaviFileDialog
    com::HRESULT get_TYPE_SAVE(com::Bstr* pVal) override;
    com::HRESULT get_TYPE_OPEN(com::Bstr* pVal) override;
    com::HRESULT get_FEATURE_PROMPT_OVERWRITE(std::int32_t* pVal) override;
    com::HRESULT get_type(com::Bstr* pVal) override;
    com::HRESULT put_type(const com::Bstr& pVal) override;
    com::HRESULT get_filter(com::Bstr* pVal) override;
    com::HRESULT put_filter(const com::Bstr& pVal) override;
    com::HRESULT get_title(com::Bstr* pVal) override;
    com::HRESULT put_title(const com::Bstr& pVal) override;
    com::HRESULT get_result(com::Bstr* pVal) override;
    com::HRESULT get_features(std::int32_t* pVal) override;
    com::HRESULT put_features(std::int32_t pVal) override;
    com::HRESULT show(const com::Variant& FileName) override;
    // Not supported: E_NOTIMPL.
    com::HRESULT cancel() override;

    bool isShowing();

private:
    enum Type : std::int32_t { none = 0, open = 1, save = 2 };

    // E_ABORT with "The dialog is showing now." while the dialog is open (lock held).
    com::HRESULT refuseWhileShowingLocked();

    std::shared_ptr<FileChooser> chooser_;
    std::weak_ptr<DialogOwner> owner_;
    EventTarget events_;

    std::mutex lock_;
    std::int32_t type_ = none;
    com::Bstr filter_ = com::Bstr::empty();
    com::Bstr title_ = com::Bstr::empty();
    com::Bstr result_ = com::Bstr::empty();
    std::int32_t features_ = 0;
    // Dialogs of this object open now: a listener of a nested show may run while an outer
    // one is still open.
    int showing_ = 0;
};

} // namespace norv::script
