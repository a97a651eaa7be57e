#pragma once
// TransportBar: the player's small native transport bar: a play/pause button, the
// position (a slider that seeks when the user moves it, with the time beside it) and, in
// the full form, a volume button. It shows what the player reports and hands the user's
// actions to the callbacks; it keeps no playback state of its own.

#include <gtk/gtk.h>

#include <functional>

namespace norv::platform::media {

class TransportBar {
public:
    struct Callbacks {
        std::function<void()> playPause;
        std::function<void(double seconds)> seek;
        std::function<void(int volume)> volume;
    };

    explicit TransportBar(Callbacks callbacks);
    ~TransportBar();
    TransportBar(const TransportBar&) = delete;
    TransportBar& operator=(const TransportBar&) = delete;

    GtkWidget* widget() const { return box_; }
    // The full bar has the volume button; the mini bar has not.
    void setFull(bool full);
    void setPlaying(bool playing);
    // Seconds; a duration of 0 (not known) leaves the slider at the start, insensitive.
    void setPosition(double position, double duration);
    void setVolume(int volume);

private:
    static void onPlayClicked(GtkButton*, gpointer self);
    static gboolean onChangeValue(GtkRange*, GtkScrollType, gdouble value, gpointer self);
    static void onVolumeChanged(GtkScaleButton*, gdouble value, gpointer self);

    Callbacks callbacks_;
    GtkWidget* box_ = nullptr; // one reference of our own
    GtkWidget* play_ = nullptr;
    GtkWidget* scale_ = nullptr;
    GtkWidget* time_ = nullptr;
    GtkWidget* volume_ = nullptr;
    bool playing_ = false;
    bool updating_ = false; // set while the bar shows a value it was given
};

} // namespace norv::platform::media
