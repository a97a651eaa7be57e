#pragma once
// The style record of a host window: the style and extended style bits that window types,
// frame kinds and the script's switches are defined by, and the four kinds of frame with
// the style arithmetic of each.

#include <cstdint>

#include "platform/gtk/WindowSystem.h"

namespace norv::host {

// Style bits.
namespace ws {
inline constexpr std::uint32_t popup = 0x80000000;
inline constexpr std::uint32_t caption = 0x00C00000; // border and dialog frame together
inline constexpr std::uint32_t border = 0x00800000;
inline constexpr std::uint32_t sysMenu = 0x00080000;
inline constexpr std::uint32_t thickFrame = 0x00040000;
inline constexpr std::uint32_t minimizeBox = 0x00020000;
inline constexpr std::uint32_t maximizeBox = 0x00010000;
inline constexpr std::uint32_t modalFrame = 0x00000080;
} // namespace ws

// Extended style bits.
namespace wsEx {
inline constexpr std::uint32_t dialogModalFrame = 0x00000001;
inline constexpr std::uint32_t topmost = 0x00000008;
inline constexpr std::uint32_t toolWindow = 0x00000080;
inline constexpr std::uint32_t windowEdge = 0x00000100;
inline constexpr std::uint32_t appWindow = 0x00040000;
} // namespace wsEx

// The kinds of frame, told by the style in this order: modal frame, sizing border,
// caption, none. `notYet` is only ever the pending record's "nothing applied yet".
enum class FrameKind : std::int32_t {
    sizable = 1,
    fixedCaption = 2,
    none = 3,
    modalFrame = 4,
    notYet = 5,
};

struct WindowStyle {
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;

    FrameKind frameKind() const;
    // The styles of frame kind `kind` (1 to 4) with every other bit kept; any other kind
    // raises E_INVALIDARG.
    WindowStyle withFrameKind(std::int32_t kind) const;
    // `add` | (style & ~remove), for both words.
    WindowStyle changed(std::uint32_t add, std::uint32_t remove, std::uint32_t addEx = 0,
                        std::uint32_t removeEx = 0) const;

    bool hasCaption() const { return (style & ws::caption) == ws::caption; }
    bool has(std::uint32_t bits) const { return (style & bits) == bits; }
    bool hasEx(std::uint32_t bits) const { return (exStyle & bits) == bits; }

    // How the window system shows a window of these styles.
    platform::gtk::WindowLook look() const;

    friend bool operator==(const WindowStyle&, const WindowStyle&) = default;
};

} // namespace norv::host
