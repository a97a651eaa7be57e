#pragma once
// TaviUi: the UI service of a platform object (ITaviUi, getService("ui"): a new one for
// each call). Its one method makes file dialogs, modal for the window the platform object
// gave it.

#include <memory>

#include "platform/com/DispatchObject.h"
#include "script/DialogOwner.h"
#include "script/FileChooser.h"
#include "typelib/ShellInterfaces.h"

namespace norv::script {

class TaviUi final : public com::DispatchObject<TaviUi, typelib::ITaviUi> {
public:
    TaviUi(std::shared_ptr<FileChooser> chooser, std::weak_ptr<DialogOwner> owner);

    // ITaviUi: a new TaviFileDialog with this service's owner.
    com::HRESULT createFileDialog(typelib::ITaviFileDialog** pVal) override;

private:
    std::shared_ptr<FileChooser> chooser_;
    std::weak_ptr<DialogOwner> owner_;
};

} // namespace norv::script
