#!/bin/sh
# Makes the demo page's clip, res/html/CLIP.WEBM: four seconds of GStreamer's test pattern
# (moving colour bars) over a quiet tone, 320 x 240 VP8 and mono Vorbis in WebM, small
# enough to ship in the program's resources. Run it again after changing it, and commit
# the result.
set -e
out="${1:-$(dirname "$0")/../res/html/CLIP.WEBM}"
gst-launch-1.0 -q webmmux name=mux ! filesink location="$out" \
    videotestsrc pattern=smpte horizontal-speed=2 num-buffers=100 \
        ! video/x-raw,width=320,height=240,framerate=25/1 \
        ! vp8enc target-bitrate=200000 deadline=1 keyframe-max-dist=50 ! mux. \
    audiotestsrc wave=sine freq=440 volume=0.2 num-buffers=173 samplesperbuffer=1024 \
        ! audio/x-raw,rate=44100,channels=1 ! audioconvert ! vorbisenc quality=0.1 ! mux.
