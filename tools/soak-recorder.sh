#!/usr/bin/env bash
# Soak run of the recorder (not a test): plays MINUTES of a tone (default 10) as fast as
# the recorder takes it, records all of it, and reports the recording process's resident
# memory after each minute of played audio, then the recorded duration (ffprobe) against
# the played one.
#
#   tools/soak-recorder.sh [MINUTES] [BUILD_DIR]
#
# Needs the normal build (target recorder_record) and ffprobe. The played audio comes
# from a stand-in for the player's stream (tests/media/pipeline/FakeAudioStream).
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
build=${2:-build}
program="$build/tests/media/pipeline/recorder_record"
if [ ! -x "$program" ]; then
    echo "build it first: cmake --build $build --target recorder_record" >&2
    exit 1
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/norv-soak-XXXXXX")
trap 'rm -rf "$dir"' EXIT
file="$dir/soak.wav"
played=$((minutes * 60))

echo "== recording $minutes minutes of audio at full speed into $file"
start=$(date +%s.%N)
"$program" "$file" --seconds "$played" --report
end=$(date +%s.%N)

recorded=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 \
    "$file")
codec=$(ffprobe -v error -show_entries stream=codec_name -of default=noprint_wrappers=1:nokey=1 \
    "$file")
awk -v p="$played" -v r="$recorded" -v s="$start" -v e="$end" -v c="$codec" 'BEGIN {
    d = (r - p) * 1000
    printf "played %.3f s, recorded %.3f s (%s): difference %+.1f ms\n", p, r, c, d
    printf "wall time %.1f s: %.1f x real time\n", e - s, p / (e - s)
    if (d < -50 || d > 50) { print "recorded duration differs by more than 50 ms"; exit 1 }
}'
