#!/usr/bin/env bash
# Recording cost on a headless GNOME Wayland desktop (frames through the portal and PipeWire)
# against the X11 path on Xvfb, and ffmpeg's x11grab + libxvid on the same Xvfb, runs
# interleaved: a 640x480 test picture playing at 30 frames per second (ffplay, an X11 client)
# is recorded for 10 seconds. Prints per run the CPU seconds of the recorder, the frames it
# coded of the 300 slots, and on GNOME the compositor's CPU seconds (which include drawing).
#   bench/recording/wayland_bench.sh BUILD_DIR [ROUNDS]
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(readlink -f "${1:?build folder}")
rounds=${2:-2}

if [ "${BENCH_INSIDE:-}" = "1" ]; then
  out=$(mktemp -d /tmp/brintel-bench.XXXXXX)
  SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ffplay -loglevel quiet -an -noborder -left 200 \
    -top 200 -f lavfi "testsrc=size=640x480:rate=30" >/dev/null 2>&1 &
  player=$!
  sleep 4
  compositor=$(pgrep -P "$PPID" -x mutter)
  ticks() { [ -n "$compositor" ] && awk '{print $14 + $15}' "/proc/$compositor/stat" || echo 0; }
  before=$(ticks)
  if [ "$BENCH_TOOL" = ffmpeg ]; then
    cmd=(ffmpeg -loglevel quiet -f x11grab -framerate 30 -video_size 640x480 -i "$DISPLAY+200,200"
      -t 10 -c:v libxvid -threads 1 "$out/r.avi")
  else
    cmd=("$build/src/app/brintelshot" --record 640x480+200+200 --duration 10 --output "$out/r.avi")
  fi
  cpu=$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.2f" % (r.ru_utime + r.ru_stime))' "${cmd[@]}")
  after=$(ticks)
  coded=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of csv=p=0 "$out/r.avi")
  echo "$BENCH_LABEL: recorder ${cpu} s CPU, ${coded} frames coded; compositor $(((after - before) / 100)) s CPU"
  kill $player
  rm -rf "$out"
  exit 0
fi

for ((round = 1; round <= rounds; round++)); do
  BENCH_INSIDE=1 BENCH_TOOL=ours BENCH_LABEL="X11 ours" "$here/scripts/with-desktop.sh" "$0" "$build"
  BENCH_INSIDE=1 BENCH_TOOL=ffmpeg BENCH_LABEL="X11 ffmpeg" "$here/scripts/with-desktop.sh" "$0" "$build"
  # The GNOME session starts with a clean environment: the settings say what to run.
  "$here/scripts/with-wayland.sh" gnome env BENCH_INSIDE=1 BENCH_TOOL=ours BENCH_LABEL="GNOME ours" \
    bash "$0" "$build"
done
