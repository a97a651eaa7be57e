#pragma once
// DialogOwner: the window that the dialogs a page opens (its file dialogs) are modal for,
// the page's host window. The host window implements it; the platform object hands it to
// each UI service, which hands it to each file dialog it creates. They hold it weakly: a
// dialog object script keeps after its window went away opens without a parent.

typedef struct _GtkWindow GtkWindow;

namespace norv::script {

class DialogOwner {
public:
    // The top-level window a dialog opened now is modal for; null while there is none.
    virtual GtkWindow* dialogParent() = 0;

protected:
    ~DialogOwner() = default;
};

} // namespace norv::script
