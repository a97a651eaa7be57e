#include "platform/media/TransportBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace norv::platform::media {

namespace {
std::string clockText(double seconds) {
    long s = seconds > 0 ? std::lround(std::floor(seconds)) : 0;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}
} // namespace

TransportBar::TransportBar(Callbacks callbacks) : callbacks_(std::move(callbacks)) {
    box_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    g_object_ref_sink(box_);
    gtk_widget_set_name(box_, "transport-bar");

    play_ = gtk_button_new_from_icon_name("media-playback-start", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(play_, "Play");
    g_signal_connect(play_, "clicked", G_CALLBACK(onPlayClicked), this);
    gtk_box_pack_start(GTK_BOX(box_), play_, FALSE, FALSE, 0);

    scale_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 1, 0.1);
    gtk_scale_set_draw_value(GTK_SCALE(scale_), FALSE);
    gtk_widget_set_sensitive(scale_, FALSE);
    g_signal_connect(scale_, "change-value", G_CALLBACK(onChangeValue), this);
    gtk_box_pack_start(GTK_BOX(box_), scale_, TRUE, TRUE, 0);

    time_ = gtk_label_new("0:00");
    gtk_box_pack_start(GTK_BOX(box_), time_, FALSE, FALSE, 0);

    volume_ = gtk_volume_button_new();
    g_signal_connect(volume_, "value-changed", G_CALLBACK(onVolumeChanged), this);
    gtk_box_pack_start(GTK_BOX(box_), volume_, FALSE, FALSE, 0);

    gtk_widget_show_all(box_);
}

TransportBar::~TransportBar() {
    // The signals name this object: cut them before the widgets may outlive it.
    g_signal_handlers_disconnect_by_data(play_, this);
    g_signal_handlers_disconnect_by_data(scale_, this);
    g_signal_handlers_disconnect_by_data(volume_, this);
    g_object_unref(box_);
}

void TransportBar::setFull(bool full) {
    gtk_widget_set_visible(volume_, full);
}

void TransportBar::setPlaying(bool playing) {
    if (playing == playing_)
        return;
    playing_ = playing;
    gtk_button_set_image(
        GTK_BUTTON(play_),
        gtk_image_new_from_icon_name(playing ? "media-playback-pause" : "media-playback-start",
                                     GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(play_, playing ? "Pause" : "Play");
}

void TransportBar::setPosition(double position, double duration) {
    updating_ = true;
    if (duration > 0) {
        gtk_range_set_range(GTK_RANGE(scale_), 0, duration);
        gtk_range_set_value(GTK_RANGE(scale_), std::min(position, duration));
        gtk_widget_set_sensitive(scale_, TRUE);
    } else {
        gtk_range_set_range(GTK_RANGE(scale_), 0, 1);
        gtk_range_set_value(GTK_RANGE(scale_), 0);
        gtk_widget_set_sensitive(scale_, FALSE);
    }
    gtk_label_set_text(GTK_LABEL(time_), clockText(position).c_str());
    updating_ = false;
}

void TransportBar::setVolume(int volume) {
    updating_ = true;
    gtk_scale_button_set_value(GTK_SCALE_BUTTON(volume_), volume / 100.0);
    updating_ = false;
}

void TransportBar::onPlayClicked(GtkButton*, gpointer self) {
    auto* bar = static_cast<TransportBar*>(self);
    if (bar->callbacks_.playPause)
        bar->callbacks_.playPause();
}

gboolean TransportBar::onChangeValue(GtkRange* range, GtkScrollType, gdouble value, gpointer self) {
    auto* bar = static_cast<TransportBar*>(self);
    if (!bar->updating_ && bar->callbacks_.seek) {
        GtkAdjustment* adj = gtk_range_get_adjustment(range);
        double upper = gtk_adjustment_get_upper(adj);
        bar->callbacks_.seek(std::clamp(value, 0.0, upper));
    }
    return FALSE;
}

void TransportBar::onVolumeChanged(GtkScaleButton*, gdouble value, gpointer self) {
    auto* bar = static_cast<TransportBar*>(self);
    if (!bar->updating_ && bar->callbacks_.volume)
        bar->callbacks_.volume(static_cast<int>(std::lround(value * 100)));
}

} // namespace norv::platform::media
