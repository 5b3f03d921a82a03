#!/usr/bin/env python3
"""Sound against picture over a long recording (by hand, not in CI).

Run on a desktop with a sound server whose default output can be recorded, for example
    scripts/with-desktop.sh --bare --sound python3 bench/recording/sound_sync.py build 600
A stimulus paints a window white and starts a 200 ms 1 kHz beep in the same 10 ms block of
the sound it plays through pacat (so it runs on the sound clock), every 731 blocks. ffprobe
finds the picture's onsets (mean luma per frame), a 5 ms RMS envelope of ffmpeg's decoding the
sound's; each picture onset is paired with the first sound onset within 300 ms of it. The
script prints sound minus picture per event, the drift from the first to the last event and
the lengths of both streams. With a file in place of the length it only measures that file.
"""
import ctypes, fcntl, math, os, struct, subprocess, sys, tempfile, time


def record(build, seconds):
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = ctypes.c_ulong
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
        [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
    for name in ("XMapWindow", "XClearWindow"):
        getattr(x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    display = x11.XOpenDisplay(None)
    window = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 100, 100, 200,
                                     150, 0, 0, 0)
    x11.XMapWindow(display, window)
    x11.XSync(display, 0)
    time.sleep(0.5)

    path = os.path.join(tempfile.mkdtemp(), "sync.avi")
    program = subprocess.Popen([os.path.join(build, "src/app/brintelshot"), "--record",
                                "120x90+140+130", "--duration", str(seconds + 2), "--audio",
                                "desktop", "--output", path])
    while not os.path.exists(path) or os.path.getsize(path) <= 2048:
        time.sleep(0.01)
    player = subprocess.Popen(["pacat", "--latency-msec=10", "--format=float32le",
                               "--channels=2"], stdin=subprocess.PIPE)
    fcntl.fcntl(player.stdin.fileno(), 1031, 4096)  # F_SETPIPE_SZ: 10.7 ms of sound
    tone = struct.pack("<960f", *(0.5 * math.sin(2 * math.pi * 1000 * (i // 2) / 48000)
                                  for i in range(960)))
    quiet = bytes(960 * 4)
    beeps = set(100 + 731 * k for k in range(int(seconds * 100 - 200) // 731))
    on = False
    for n in range(max(beeps) + 40):
        if n in beeps or n - 20 in beeps:
            on = n in beeps
            x11.XSetWindowBackground(display, window, 0xFFFFFF if on else 0)
            x11.XClearWindow(display, window)
            x11.XFlush(display)
        player.stdin.write(tone if on else quiet)
        player.stdin.flush()
    player.stdin.close()
    player.wait()
    program.wait()
    print(f"{len(beeps)} events made")
    return path


def rises(series, threshold):
    return [series[i][0] for i in range(1, len(series))
            if series[i - 1][1] < threshold <= series[i][1]]


def measure(path):
    lines = subprocess.run(["ffprobe", "-v", "error", "-f", "lavfi", "-i",
                            f"movie={path},signalstats", "-show_entries",
                            "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"],
                           capture_output=True, text=True).stdout.split()
    video = rises([tuple(map(float, line.split(","))) for line in lines if "," in line], 128)
    pcm = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-"],
                         capture_output=True).stdout
    samples = struct.unpack(f"<{len(pcm) // 2}h", pcm)
    envelope = [(at / 48000, math.sqrt(sum(s * s for s in samples[at:at + 240]) / 240))
                for at in range(0, len(samples) - 240, 240)]
    audio = rises(envelope, 3000)
    pairs = []
    for v in video:
        near = [a for a in audio if abs(a - v) < 0.3]
        if near:
            pairs.append((v, near[0]))
    print(f"onsets: {len(video)} in the picture, {len(audio)} in the sound, {len(pairs)} paired")
    for v, a in pairs:
        print(f"picture {v:9.3f} s  sound {a:9.3f} s  sound - picture {1000 * (a - v):+5.0f} ms")
    offsets = [a - v for v, a in pairs]
    if offsets:
        first = sum(offsets[:5]) / len(offsets[:5])
        last = sum(offsets[-5:]) / len(offsets[-5:])
        print(f"offsets {1000 * min(offsets):+.0f} to {1000 * max(offsets):+.0f} ms; drift (mean"
              f" of the last 5 minus the first 5) {1000 * (last - first):+.1f} ms over"
              f" {pairs[-1][0] - pairs[0][0]:.0f} s")
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                            "stream=codec_type,duration", "-of", "csv=p=0", path],
                           capture_output=True, text=True).stdout
    print("stream lengths:", probe.split(), "decoded sound:", len(samples) / 48000, "s")
    print("file:", path)


if __name__ == "__main__":
    target = sys.argv[2]
    measure(target if os.path.exists(target) else record(sys.argv[1], float(target)))
