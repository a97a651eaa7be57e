#pragma once
// PlayerElementHost: the media players of a page's <object> elements, and the layer that
// shows their video over the browser.
//
// It answers the script bridge's element handlers. An element of the media player
// control's class gets its object through the class table (so the program's player
// factory builds it while a media service is registered), sited on a client site of the
// element's own; the element then carries the control's members and raises its events.
// The control's widget (its video with the transport bar of uiMode "full" and "mini") is
// laid over the browser in a GtkOverlay exactly at the element's border box: the box the
// bridge reports in CSS pixels times the page zoom, following every report (scroll,
// resize, relayout), cut to the part of the page the element can be seen in (the
// viewport and the scrolling panes around it), hidden while the element is not rendered.
// Each player's video sits in a clip of its own (a GtkOverlay whose child window is the
// visible part) at its full size, so a cut video is cut, not squeezed. When the element leaves the
// document, the page goes or the host goes, the player is stopped, its site cleared and its widget
// taken off the layer.
//
// UI thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "platform/com/ComPtr.h"
#include "platform/com/Dispatch.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/WebView.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkOverlay GtkOverlay;

namespace norv::host {

class PlayerElementHost {
public:
    // Takes over the bridge's element handlers; `browser` is the browser's widget, which
    // the layer holds from now on.
    PlayerElementHost(web::ScriptBridge& bridge, web::WebView view, GtkWidget* browser);
    ~PlayerElementHost();
    PlayerElementHost(const PlayerElementHost&) = delete;
    PlayerElementHost& operator=(const PlayerElementHost&) = delete;

    // The widget to put in the window: the browser with the video over it.
    GtkWidget* widget() const { return overlay_; }

    // The players of the page's elements now.
    std::size_t players() const { return players_.size(); }

    // Where an element's video goes on the layer for the box the bridge reported, with
    // the page zoom, in the layer's pixels: the part that can be seen (`shown`, the box cut
    // to its clip) and the whole box relative to that part (`video`); nullopt when nothing
    // is shown (the element is not rendered, its box is empty or wholly clipped).
    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        friend bool operator==(const Rect&, const Rect&) = default;
    };
    struct Placement {
        Rect shown;
        Rect video;
        friend bool operator==(const Placement&, const Placement&) = default;
    };
    static std::optional<Placement> place(const web::ElementBox& box, double zoom);

private:
    struct Player;

    com::HRESULT create(web::ElementId id, const com::CLSID& clsid, web::ElementObject& out);
    void moved(web::ElementId id, const web::ElementBox& box);
    void released(web::ElementId id);
    void update(Player& player);
    void release(Player& player);

    static int onClipPosition(GtkOverlay* overlay, GtkWidget* child, void* allocation, void* self);
    static int onVideoPosition(GtkOverlay* overlay, GtkWidget* child, void* allocation, void* self);
    static void onZoom(void* view, void* spec, void* self);

    web::ScriptBridge& bridge_;
    web::WebView view_;
    GtkWidget* overlay_ = nullptr; // one reference of our own
    std::map<web::ElementId, std::unique_ptr<Player>> players_;
};

} // namespace norv::host
