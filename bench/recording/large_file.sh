#!/usr/bin/env bash
# A long recording of the whole screen covered with noise, the largest file the program makes
# in a given time, read back by ffmpeg and GStreamer (VLC: see README). The recorder runs at a
# raised priority so that other work on the machine does not starve it of frames.
#   scripts/with-desktop.sh --bare bench/recording/large_file.sh BUILD_DIR [SECONDS]
set -uo pipefail
build=$(readlink -f "${1:?build folder}")
seconds=${2:-100}
out=$(mktemp -d /tmp/brintel-large.XXXXXX)
trap 'kill "$painter" 2>/dev/null; rm -rf "$out"' EXIT

"$build/bench/recording/noise_painter" &
painter=$!
sleep 3
size=$(xdpyinfo | awk '/dimensions:/ {print $2}')
nice -n -10 /usr/bin/time -o "$out/time" -f "recorder: %e s, %U s user, %S s system, %M KB peak" \
  "$build/src/app/brintelshot" --record "$size+0+0" --duration "$seconds" --output "$out/noise.avi" \
  >/dev/null || exit 1
file="$out/noise.avi"
cat "$out/time"
python3 - "$file" <<'PY'
import os, struct, sys
size, parts, position = os.path.getsize(sys.argv[1]), 0, 0
with open(sys.argv[1], "rb") as f:
    while position + 8 <= size:
        f.seek(position)
        length = struct.unpack("<I", f.read(8)[4:])[0]
        parts, position = parts + 1, position + 8 + length + (length & 1)
print(f"file: {size} bytes in {parts} RIFF parts")
PY
ffprobe -v error -count_packets -show_entries stream=nb_frames,nb_read_packets:format=duration \
  -of compact "$file"
ffmpeg -nostats -i "$file" -vf fps=30 -f null - 2>&1 | grep -o 'frame= *[0-9]*' | tail -1 |
  sed 's/^/ffmpeg at 30 fps: /'
gst-launch-1.0 -v filesrc location="$file" ! avidemux ! avdec_mpeg4 ! fakesink sync=false \
  silent=false 2>&1 | grep -o 'pts: [0-9:.]*' | awk 'END {print "GStreamer: " NR " frames, last " $0}'
