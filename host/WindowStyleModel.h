#pragma once
// The window type and style model of a host window: window types and switches (caption,
// boxes, application window, always on top, tool window, screen mode, resizable) mapped
// onto the style record and back.
//
// Every setter works in two modes. Before the window exists it writes the pending state
// (from which the window is created, see attach); afterwards it changes the style record
// and applies it to the window at once. A change of frame keeps the client area where it
// is on the screen (the outer rectangle grows or shrinks around it), never above or left
// of the screen's origin, except for a window that covers its whole screen.
//
// Failures are raised as the framework exceptions of platform/com.

#include <cstdint>
#include <string>

#include "host/PendingWindowState.h"
#include "host/WindowHooks.h"
#include "host/WindowStyle.h"
#include "platform/gtk/WindowSystem.h"
#include "typelib/NorvViewTypes.h"

namespace norv::host {

using typelib::TaviWindowTypes;

class WindowStyleModel {
public:
    explicit WindowStyleModel(WindowHooks& hooks) : hooks_(hooks) {}
    virtual ~WindowStyleModel() = default;
    WindowStyleModel(const WindowStyleModel&) = delete;
    WindowStyleModel& operator=(const WindowStyleModel&) = delete;

    PendingWindowState& pending() { return pending_; }
    const PendingWindowState& pending() const { return pending_; }

    // The window now exists: it gets the pending state's styles, caption and client size,
    // centred on the work area of its monitor (or the whole monitor in screen mode).
    virtual void attach(platform::gtk::WindowSystem& window);
    // The window is going away; nothing is applied to it any more.
    virtual void detach();
    platform::gtk::WindowSystem* window() const { return window_; }
    // The style record (meaningful while the window exists).
    const WindowStyle& style() const { return style_; }

    // Frame kinds 1 to 4; anything else is E_INVALIDARG. Without a window: the kind is
    // noted, with a caption unless it is kind 3 and a minimize box only for kind 1.
    void applyFrameKind(std::int32_t kind);
    FrameKind frameKind() const;

    void setCaption(bool on);
    bool hasCaption() const;
    void setMinimizeBox(bool on);
    bool hasMinimizeBox() const;
    void setMaximizeBox(bool on);
    bool hasMaximizeBox() const;
    // Also lists the window in the taskbar, or takes it out.
    void setApplicationWindow(bool on);
    bool isApplicationWindow() const;
    void setAlwaysOnTop(bool on);
    bool isAlwaysOnTop() const;
    void setToolWindow(bool on);
    bool isToolWindow() const;

    // Entering covers the window's monitor; leaving goes back to the normal placement
    // (nothing while minimised). Screen mode is a window rectangle equal to its monitor's.
    void setScreenMode(bool on);
    bool isScreenMode() const;

    // Keeps the window's top-left corner; the frame stays as it is.
    void setClientSize(int width, int height);

    std::u16string caption() const;
    void setCaptionText(const std::u16string& text);

    // The window types. setType's wtScreen leaving for another type sizes the window to
    // its declaration again; getType fails with E_FAIL for a fixed caption window that is
    // not a tool window (the type cannot be told); setResizable(true) of a wtScreen window
    // fails with "Type of wtScreen can't be resizable.". The host window's own rules
    // (a cached type, the maximised window) override these.
    virtual void setType(TaviWindowTypes type);
    virtual TaviWindowTypes getType();
    virtual void setResizable(bool flag);
    virtual bool getResizable();

protected:
    WindowHooks& hooks() const { return hooks_; }
    // The window, or OLE_E_BLANK when there is none yet.
    platform::gtk::WindowSystem& live() const;

private:
    void setStyleBits(std::uint32_t bits, bool on);
    void setExStyleBits(std::uint32_t bits, bool on);
    void writeStyle(const WindowStyle& next);

    WindowHooks& hooks_;
    PendingWindowState pending_;
    platform::gtk::WindowSystem* window_ = nullptr;
    WindowStyle style_;
};

} // namespace norv::host
