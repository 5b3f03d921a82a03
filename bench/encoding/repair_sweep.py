#!/usr/bin/env python3
"""Single corruptions of an unfinished recording (with or without sound), each repaired with
`brintelshot --repair`: frames ffmpeg decodes before and after (of the picture, and of the sound
when there is one), per kind of damage.

    bench/encoding/repair_sweep.py BRINTELSHOT UNFINISHED.avi [COUNT] [SEED]

Each round copies the file, damages it once (a bit of a chunk id, of a chunk length, of frame
data, of the header, or anywhere; a chunk is a frame or a sound chunk), counts the decoded
frames (ffprobe -count_frames), repairs it and counts again. A refused repair must leave the file as it was."""
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile


def decoded_frames(path, stream="v:0"):
    out = subprocess.run(["ffprobe", "-v", "quiet", "-count_frames", "-select_streams", stream,
                          "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                         capture_output=True, text=True).stdout.strip()
    return int(out) if out.isdigit() else 0


def chunk_offsets(data):
    offsets, at = [], 2048
    while at + 8 <= len(data) and data[at:at + 4] in (b"00db", b"01wb"):
        offsets.append(at)
        at += 8 + ((struct.unpack_from("<I", data, at + 4)[0] + 1) & ~1)
    return offsets


def damage(data, rng, kind, chunks):
    data = bytearray(data)
    full = [c for c in chunks if struct.unpack_from("<I", data, c + 4)[0] > 0]
    if kind == "id":
        at = rng.choice(chunks) + rng.randrange(4)
    elif kind == "length":
        at = rng.choice(chunks) + 4 + rng.randrange(4)
    elif kind == "data":
        c = rng.choice(full)
        at = c + 8 + rng.randrange(struct.unpack_from("<I", data, c + 4)[0])
    elif kind == "header":
        at = rng.randrange(2048)
    else:
        at = rng.randrange(len(data))
    data[at] ^= 1 << rng.randrange(8)
    return bytes(data), at


def main():
    program, source = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    original = open(source, "rb").read()
    chunks = chunk_offsets(original)
    kinds = ["id", "length", "data", "header", "anywhere"]
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "damaged.avi")
        for n in range(count):
            kind = kinds[n % len(kinds)]
            damaged, at = damage(original, rng, kind, chunks)
            open(path, "wb").write(damaged)
            before, sound_before = decoded_frames(path), decoded_frames(path, "a:0")
            run = subprocess.run([program, "--repair", path], capture_output=True, text=True)
            after, sound_after = decoded_frames(path), decoded_frames(path, "a:0")
            untouched = open(path, "rb").read() == damaged
            if run.returncode != 0 and not untouched:
                print(f"REFUSED BUT CHANGED: {kind} at {at}", file=sys.stderr)
            rows.append((kind, at, before, after, run.returncode, sound_before, sound_after))
            if after < before:
                shutil.copy(path, os.path.join(tempfile.gettempdir(), f"sweep_loss_{n}.avi"))
                print(f"LOSS {kind} at {at}: {before} -> {after}: {run.stdout}{run.stderr}",
                      file=sys.stderr)
    print(f"{len(rows)} single corruptions of {source} ({decoded_frames(source)} frames, "
          f"{decoded_frames(source, 'a:0')} sound frames)")
    print("kind      rounds  repaired refused  worse  same  better  median before -> after"
          "  sound: worse  median before -> after")
    for kind in kinds + ["all"]:
        sel = [r for r in rows if kind == "all" or r[0] == kind]
        print(f"{kind:9} {len(sel):6} {sum(r[4] == 0 for r in sel):8} "
              f"{sum(r[4] == 2 for r in sel):7} {sum(r[3] < r[2] for r in sel):6} "
              f"{sum(r[3] == r[2] for r in sel):5} {sum(r[3] > r[2] for r in sel):7}  "
              f"{statistics.median(r[2] for r in sel):13} -> {statistics.median(r[3] for r in sel):5}"
              f"  {sum(r[6] < r[5] for r in sel):12}  {statistics.median(r[5] for r in sel):13}"
              f" -> {statistics.median(r[6] for r in sel)}")


if __name__ == "__main__":
    main()
