#pragma once
// The audio sink of a player: the desktop's sound server (pulsesink), else the sound card
// (alsasink), else a sink that discards the sound in real time (fakeaudiosink), so that
// playback keeps its pace and reaches its end on a machine without sound.
//
// A sink that cannot reach its device fails hard once it plays (autoaudiosink would fall
// back silently, an explicit pulsesink without a server does not), so each candidate is
// tried to READY, which opens the device, before it is chosen.

#include "platform/media/GstRef.h"

namespace norv::platform::media {

// The chosen sink, in the NULL state, with its factory's name in `factoryName` when given.
GstRef<GstElement> createAudioOutput(const char** factoryName = nullptr);

} // namespace norv::platform::media
