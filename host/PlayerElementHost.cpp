#include "host/PlayerElementHost.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"
#include "platform/com/TypeInfo.h"
#include "platform/media/PlayerHostInterfaces.h"
#include "platform/media/PlayerInterfaces.h"

namespace norv::host {

using namespace com;
namespace pm = platform::media;

namespace {

// The client site an element gives its player: the element's place in the page. It has
// no container, no moniker and no services of its own; the player's plugin answers the
// control's services itself.
class ElementClientSite final : public ComObject<ElementClientSite, pm::IOleClientSite> {
public:
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(std::uint32_t, std::uint32_t, IUnknown** moniker) override {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainer(IUnknown** container) override {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(bool) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
};

} // namespace

struct PlayerElementHost::Player {
    ComPtr<IUnknown> object;
    ComPtr<pm::IOleObject> embedding;
    ComPtr<ElementClientSite> site;
    GtkWidget* clip = nullptr;  // on the layer, the visible part; one reference of our own
    GtkWidget* frame = nullptr; // in the clip at the element's full box (the clip's)
    GtkWidget* video = nullptr; // the control's widget inside the frame (the control's)
    web::ElementBox box;
};

PlayerElementHost::PlayerElementHost(web::ScriptBridge& bridge, web::WebView view,
                                     GtkWidget* browser)
    : bridge_(bridge), view_(std::move(view)) {
    overlay_ = GTK_WIDGET(g_object_ref_sink(gtk_overlay_new()));
    gtk_container_add(GTK_CONTAINER(overlay_), browser);
    g_signal_connect(overlay_, "get-child-position", G_CALLBACK(onClipPosition), this);
    gtk_widget_show(overlay_);
    if (view_.get())
        g_signal_connect(view_.get(), "notify::zoom-level", G_CALLBACK(onZoom), this);

    web::ElementHandlers handlers;
    handlers.create = [this](web::ElementId id, const CLSID& clsid, web::ElementObject& out) {
        return create(id, clsid, out);
    };
    handlers.box = [this](web::ElementId id, const web::ElementBox& box) {
        moved(id, box);
    };
    handlers.released = [this](web::ElementId id) {
        released(id);
    };
    bridge_.setElementHandlers(std::move(handlers));
}

PlayerElementHost::~PlayerElementHost() {
    bridge_.setElementHandlers({});
    for (auto& [id, player] : players_)
        release(*player);
    players_.clear();
    if (view_.get())
        g_signal_handlers_disconnect_by_data(view_.get(), this);
    g_signal_handlers_disconnect_by_data(overlay_, this);
    if (GtkWidget* parent = gtk_widget_get_parent(overlay_))
        gtk_container_remove(GTK_CONTAINER(parent), overlay_);
    if (GtkWidget* browser = gtk_bin_get_child(GTK_BIN(overlay_)))
        gtk_container_remove(GTK_CONTAINER(overlay_), browser);
    g_object_unref(overlay_);
}

HRESULT PlayerElementHost::create(web::ElementId id, const CLSID& clsid, web::ElementObject& out) {
    if (clsid != pm::CLSID_MediaPlayer)
        return REGDB_E_CLASSNOTREG;
    auto player = std::make_unique<Player>();
    HRESULT hr = createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IUnknown::iid,
                                player->object.putVoid());
    if (failed(hr))
        return hr;
    auto dispatch = player->object.as<IDispatch>();
    player->embedding = player->object.as<pm::IOleObject>();
    if (!dispatch || !player->embedding)
        return E_NOINTERFACE;
    player->site = makeObject<ElementClientSite>();
    hr = player->embedding->SetClientSite(player->site.get());
    if (failed(hr)) {
        player->embedding->SetClientSite(nullptr);
        return hr;
    }

    if (auto view = player->object.as<pm::IPlayerView>()) {
        GtkWidget* video = nullptr;
        if (view->GetWidget(&video) == S_OK && video) {
            player->video = video;
            player->clip = GTK_WIDGET(g_object_ref_sink(gtk_overlay_new()));
            player->frame = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
            gtk_box_pack_start(GTK_BOX(player->frame), video, TRUE, TRUE, 0);
            gtk_widget_show(player->frame);
            gtk_overlay_add_overlay(GTK_OVERLAY(player->clip), player->frame);
            g_signal_connect(player->clip, "get-child-position", G_CALLBACK(onVideoPosition), this);
            // Shown once the element's first box says where.
            gtk_widget_set_no_show_all(player->clip, TRUE);
            gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), player->clip);
        }
    }

    out.object = dispatch;
    // The control's members besides what the object's own type information names (the
    // player object describes only its own there).
    out.interfaces = {ComPtr<ITypeInfo>(typeInfoOf<pm::IMediaPlayer>())};
    out.events = ComPtr<ITypeInfo>(typeInfoOf<pm::IMediaPlayerEvents>());
    players_[id] = std::move(player);
    return S_OK;
}

void PlayerElementHost::moved(web::ElementId id, const web::ElementBox& box) {
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    found->second->box = box;
    update(*found->second);
}

void PlayerElementHost::released(web::ElementId id) {
    auto found = players_.find(id);
    if (found == players_.end())
        return;
    std::unique_ptr<Player> player = std::move(found->second);
    players_.erase(found);
    release(*player);
}

void PlayerElementHost::update(Player& player) {
    if (!player.clip)
        return;
    auto placement = place(player.box, view_.zoomLevel());
    gtk_widget_set_visible(player.clip, placement.has_value());
    if (placement) {
        gtk_widget_queue_resize(player.clip);
        gtk_widget_queue_resize(player.frame);
    }
}

void PlayerElementHost::release(Player& player) {
    // Stopped first, so that the parts see the stop while the player is still sited.
    if (auto control = player.object.as<pm::IMediaPlayer>())
        control->close();
    if (player.embedding)
        player.embedding->SetClientSite(nullptr);
    if (player.clip) {
        if (player.video)
            gtk_container_remove(GTK_CONTAINER(player.frame), player.video);
        g_signal_handlers_disconnect_by_data(player.clip, this);
        gtk_container_remove(GTK_CONTAINER(overlay_), player.clip);
        g_object_unref(player.clip);
        player.clip = nullptr;
        player.frame = nullptr;
        player.video = nullptr;
    }
    player.embedding.reset();
    player.object.reset();
    player.site.reset();
}

std::optional<PlayerElementHost::Placement> PlayerElementHost::place(const web::ElementBox& box,
                                                                     double zoom) {
    if (!box.visible || !(zoom > 0))
        return std::nullopt;
    // The edges are rounded, not the size, so that two adjacent boxes stay adjacent.
    // Coordinates far outside the view are held within what an allocation takes.
    constexpr double limit = 1 << 20;
    auto edge = [&](double v) {
        return std::clamp(std::round(v * zoom), -limit, limit);
    };
    const double left = edge(box.x);
    const double top = edge(box.y);
    const double right = edge(box.x + box.width);
    const double bottom = edge(box.y + box.height);
    if (!(right > left) || !(bottom > top))
        return std::nullopt;
    double shownLeft = left, shownTop = top, shownRight = right, shownBottom = bottom;
    if (box.clip) {
        shownLeft = std::max(left, edge(box.clip->x));
        shownTop = std::max(top, edge(box.clip->y));
        shownRight = std::min(right, edge(box.clip->x + box.clip->width));
        shownBottom = std::min(bottom, edge(box.clip->y + box.clip->height));
        if (!(shownRight > shownLeft) || !(shownBottom > shownTop))
            return std::nullopt;
    }
    auto whole = [](double v) {
        return static_cast<int>(v);
    };
    return Placement{
        {whole(shownLeft), whole(shownTop), whole(shownRight - shownLeft),
         whole(shownBottom - shownTop)},
        {whole(left - shownLeft), whole(top - shownTop), whole(right - left), whole(bottom - top)}};
}

int PlayerElementHost::onClipPosition(GtkOverlay*, GtkWidget* child, void* out, void* data) {
    auto* allocation = static_cast<GdkRectangle*>(out);
    auto* self = static_cast<PlayerElementHost*>(data);
    for (auto& [id, player] : self->players_) {
        if (player->clip != child)
            continue;
        // A hidden clip is not allocated; the fall-back only keeps the numbers sane.
        Rect r = place(player->box, self->view_.zoomLevel())
                     .value_or(Placement{{0, 0, 1, 1}, {0, 0, 1, 1}})
                     .shown;
        *allocation = GdkRectangle{r.x, r.y, r.width, r.height};
        return TRUE;
    }
    return FALSE;
}

int PlayerElementHost::onVideoPosition(GtkOverlay* clip, GtkWidget*, void* out, void* data) {
    auto* allocation = static_cast<GdkRectangle*>(out);
    auto* self = static_cast<PlayerElementHost*>(data);
    for (auto& [id, player] : self->players_) {
        if (player->clip != GTK_WIDGET(clip))
            continue;
        Rect r = place(player->box, self->view_.zoomLevel())
                     .value_or(Placement{{0, 0, 1, 1}, {0, 0, 1, 1}})
                     .video;
        *allocation = GdkRectangle{r.x, r.y, r.width, r.height};
        return TRUE;
    }
    return FALSE;
}

void PlayerElementHost::onZoom(void*, void*, void* data) {
    auto* self = static_cast<PlayerElementHost*>(data);
    for (auto& [id, player] : self->players_)
        self->update(*player);
}

} // namespace norv::host
