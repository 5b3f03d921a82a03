#!/usr/bin/env bash
# Times our encoder against ffmpeg's libxvid encoder on the same raw frames.
#   bench/encoding/compare_ffmpeg_xvid.sh [path/to/encoding_bench]
# encoding_bench writes the frames its codec encoded (packed 24-bit blue-green-red) and prints
# our frames per second; ffmpeg then encodes each file at the closest settings: fixed
# quantiser 2, four motion vectors per macroblock, AC prediction, trellis quantisation,
# motion-estimation quality 6, no B-frames, key interval 240, one thread. ffmpeg's figure
# includes its conversion of the frames to 4:2:0 (libxvid takes nothing else), as ours
# includes the codec's own conversion.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench=${1:-build/bench/encoding/encoding_bench}
[ -x "$bench" ] || { echo "compare_ffmpeg_xvid: build $bench first" >&2; exit 1; }

work=$(mktemp -d /dev/shm/brintel-xvid-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --raw-dir "$work" > "$work/results.txt"

printf '%-18s %10s %10s %12s %12s %12s\n' case front codec ffmpeg front/ffmpeg codec/ffmpeg
while read -r tag fields; do
  [ "$tag" = RESULT ] || continue
  declare -A r=()
  for field in $fields; do r[${field%%=*}]=${field#*=}; done
  [ -n "${r[raw]:-}" ] || continue
  rtime=
  for _ in 1 2 3; do  # best of three, as for our figures
    t=$(ffmpeg -nostdin -hide_banner -nostats -loglevel info -benchmark \
          -f rawvideo -pix_fmt bgr24 -s "${r[width]}x${r[height]}" -r 30 -i "${r[raw]}" \
          -c:v libxvid -qscale:v 2 -flags +mv4+aic -trellis 1 -me_quality 6 -bf 0 -g 240 \
          -threads 1 -f avi -y /dev/null 2>&1 | sed -n 's/^bench:.*rtime=\([0-9.]*\)s.*/\1/p')
    if [ -z "$rtime" ] || awk -v a="$t" -v b="$rtime" 'BEGIN { exit !(a < b) }'; then rtime=$t; fi
  done
  awk -v c="${r[case]}" -v n="${r[frames]}" -v front="${r[front_fps]}" \
      -v codec="${r[codec_fps]}" -v t="$rtime" 'BEGIN {
        ff = n / t;
        printf "%-18s %10.1f %10.1f %12.1f %12.2f %12.2f\n", c, front, codec, ff, front / ff, codec / ff
      }'
  rm -f "${r[raw]}"
  unset r
done < "$work/results.txt"
