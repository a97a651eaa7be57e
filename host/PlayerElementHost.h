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
// resize, relayout), clipped to the browser's area, hidden while the element is not
// rendered. When the element leaves the document, the page goes or the host goes, the
// player is stopped, its site cleared and its widget taken off the layer.
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
    // the page zoom: its rectangle in the layer's pixels (it may reach beyond the view,
    // which clips it), or nullopt when nothing is shown (the element is not rendered, or
    // its box is empty).
    struct Placement {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
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

    static int onChildPosition(GtkOverlay* overlay, GtkWidget* child, void* allocation, void* self);
    static void onZoom(void* view, void* spec, void* self);

    web::ScriptBridge& bridge_;
    web::WebView view_;
    GtkWidget* overlay_ = nullptr; // one reference of our own
    std::map<web::ElementId, std::unique_ptr<Player>> players_;
};

} // namespace norv::host
