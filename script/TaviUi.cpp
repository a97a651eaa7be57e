#include "script/TaviUi.h"

#include "platform/com/Exceptions.h"
#include "script/TaviFileDialog.h"

namespace norv::script {

TaviUi::TaviUi(std::shared_ptr<FileChooser> chooser, std::weak_ptr<DialogOwner> owner)
    : chooser_(std::move(chooser)), owner_(std::move(owner)) {}

com::HRESULT TaviUi::createFileDialog(typelib::ITaviFileDialog** pVal) {
    if (pVal == nullptr)
        return com::E_POINTER;
    *pVal = nullptr;
    return com::guard(typelib::ITaviUi::iid, [&] {
        auto dialog = com::makeObject<TaviFileDialog>(chooser_, owner_);
        *pVal = static_cast<typelib::ITaviFileDialog*>(dialog.get());
        (*pVal)->AddRef();
        return com::S_OK;
    });
}

} // namespace norv::script
