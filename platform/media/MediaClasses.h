#pragma once
// The platform's media classes in the process class table: the media player control
// (CLSID_MediaPlayer) and the pass-through activation class of its audio transform
// (CLSID_MediaActivate). They are the fall-back: a class the program registers under
// either identifier is asked first.

#include <string>

namespace norv::platform::media {

// Initialises GStreamer (when not done yet) and sets both platform classes. Call it on
// the UI thread, after GTK is initialised when the control should show video in a widget.
// Returns false when GStreamer cannot be initialised (the classes are then not set).
bool registerMediaClasses();

// The version of the GStreamer library in use ("1.22.0"); needs no initialisation.
std::string mediaFrameworkVersion();

} // namespace norv::platform::media
