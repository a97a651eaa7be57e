#pragma once
// MPWaveDest: the recorder's WAV writer, a GStreamer element of the program's own
// (factory "mpwavedest"; the recorder names its instance "WAV Dest").
//
// It turns a stream of audio buffers into the bytes of a RIFF/WAVE file for a seekable
// byte sink (filesink): the "fmt " chunk holds the WAVEFORMATEX of the input (for
// avenc_wmav2's output: format tag 0x0161 with the encoder's codec data), and the
// "data" chunk the buffers' bytes in arrival order. The header comes first with a data
// size of 0, each buffer follows at its file position (stamped in its offset fields), and
// the header is rewritten at the start through a byte segment to offset 0: about once a
// second while data flow (so a recording cut short opens with all but its last second),
// and when the stream ends (EOS). A recording stops at the 32-bit size limit of the format
// with an error, its header written for what it holds.
//
// Input: audio/x-wma (versions 1 and 2) or interleaved mono/stereo audio/x-raw (U8, S16LE,
// S24LE, S32LE, F32LE). A different input format after data is refused. Output: one type,
// audio/x-wav.
//
// Stopping a recording must end its stream with EOS (and wait for it at the sink): a
// pipeline set to NULL without it keeps the header of the last update.

#include <gst/gst.h>

namespace norv::media {

inline constexpr const char* kWaveDestFactory = "mpwavedest";

// Registers the element with GStreamer for this process; later calls do nothing. False
// when GStreamer refused the registration.
bool registerWaveDest();

GType waveDestGetType();

} // namespace norv::media
