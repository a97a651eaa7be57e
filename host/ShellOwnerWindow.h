#pragma once
// The owner window of `run` on the GTK desktop.

#include <string>

#include "app/OwnerWindow.h"
#include "platform/gtk/OwnerWindow.h"

namespace norv::host {

class ShellOwnerWindow final : public app::OwnerWindow {
public:
    void setTitle(const std::u16string& title) override;
    bool setIcon(unsigned id) override;
    void showNoActivate() override { window_.showNoActivate(); }

    platform::gtk::OwnerWindow& window() { return window_; }

private:
    platform::gtk::OwnerWindow window_;
};

} // namespace norv::host
