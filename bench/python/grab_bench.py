#!/usr/bin/env python3
"""Python grabs on one Xvfb: zorsck's Screen.grab and grab_into and the mss drop-in's grab, against
Pillow's ImageGrab.grab(bbox=...) and a one-shot MIT-SHM grab per call through ctypes, and grab_into
against the C crop (bench/x11's Google Benchmark BM_Crop, run on the same server in the same run).
Prints the table; --write puts it into bench/RESULTS-python.md."""
import argparse, ctypes, datetime, json, os, statistics, subprocess, sys, tempfile, timeit

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "python"))
X, Y = 640, 300  # top-left corner of every rectangle, as in bench/x11
SIZES = ((64, 64), (640, 480))


def build_dir():
    """build/bench when it has the X11 library, else build/default."""
    for preset in ("bench", "default"):
        if os.path.exists(os.path.join(ROOT, "build", preset, "src", "libzorsck.so")):
            return os.path.join(ROOT, "build", preset)
    sys.exit("no libzorsck.so in build/bench or build/default: build the bench preset first")


def painted(x, y):
    """(R, G, B) that tools/xvfb paints at (x, y) of screen 0 (generation 1)."""
    v = ((x & 0x7FF) | (y & 0x7FF) << 11) ^ 0x9E3779B1 & 0xFFFFFF
    return v >> 16, v >> 8 & 255, v & 255


class XImage(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ("width", "height", "xoffset", "format")] + [("data", ctypes.c_void_p)] + \
               [(n, ctypes.c_int) for n in ("byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad", "depth",
                                            "bytes_per_line", "bits_per_pixel")]


class ShmInfo(ctypes.Structure):
    _fields_ = [("shmseg", ctypes.c_ulong), ("shmid", ctypes.c_int), ("shmaddr", ctypes.c_void_p), ("readOnly", ctypes.c_int)]


class OneShot:
    """A grab per call the way one-shot libraries do it: MIT-SHM image and segment made, attached,
    filled, copied out, detached and freed on every call; the X connection is opened once."""

    def __init__(self):
        x11, ext, libc = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXext.so.6"), ctypes.CDLL(None)
        vp, img = ctypes.c_void_p, ctypes.POINTER(XImage)
        x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = vp, [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype, x11.XDefaultRootWindow.argtypes = ctypes.c_ulong, [vp]
        x11.XDefaultScreen.argtypes = [vp]
        x11.XDefaultVisual.restype, x11.XDefaultVisual.argtypes = vp, [vp, ctypes.c_int]
        x11.XDefaultDepth.argtypes = [vp, ctypes.c_int]
        x11.XDestroyImage.argtypes = [img]
        ext.XShmCreateImage.restype = img
        ext.XShmCreateImage.argtypes = [vp, vp, ctypes.c_uint, ctypes.c_int, vp, ctypes.POINTER(ShmInfo), ctypes.c_uint, ctypes.c_uint]
        ext.XShmAttach.argtypes = ext.XShmDetach.argtypes = [vp, ctypes.POINTER(ShmInfo)]
        ext.XShmGetImage.argtypes = [vp, ctypes.c_ulong, img, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
        libc.shmget.argtypes, libc.shmat.restype, libc.shmat.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int], vp, [ctypes.c_int, vp, ctypes.c_int]
        libc.shmdt.argtypes, libc.shmctl.argtypes = [vp], [ctypes.c_int, ctypes.c_int, vp]
        self.x11, self.ext, self.libc = x11, ext, libc
        self.dpy = x11.XOpenDisplay(None)
        screen = x11.XDefaultScreen(self.dpy)
        self.root, self.visual, self.depth = x11.XDefaultRootWindow(self.dpy), x11.XDefaultVisual(self.dpy, screen), x11.XDefaultDepth(self.dpy, screen)

    def grab(self, x, y, w, h):
        """The BGRA bytes of one rectangle."""
        info = ShmInfo()
        image = self.ext.XShmCreateImage(self.dpy, self.visual, self.depth, 2, None, ctypes.byref(info), w, h)  # ZPixmap
        size = image.contents.bytes_per_line * h
        info.shmid = self.libc.shmget(0, size, 0o1600)  # IPC_PRIVATE, IPC_CREAT | 0600
        info.shmaddr = image.contents.data = self.libc.shmat(info.shmid, None, 0)
        self.ext.XShmAttach(self.dpy, ctypes.byref(info))
        try:
            if not self.ext.XShmGetImage(self.dpy, self.root, image, x, y, 0xFFFFFFFF):
                raise RuntimeError("XShmGetImage failed")
            return bytearray((ctypes.c_char * size).from_address(info.shmaddr))
        finally:
            self.ext.XShmDetach(self.dpy, ctypes.byref(info))
            self.libc.shmdt(info.shmaddr)
            self.libc.shmctl(info.shmid, 0, None)  # IPC_RMID
            image.contents.data = None
            self.x11.XDestroyImage(image)


def per_call(fn, reps):
    """Median seconds per call of `fn` over `reps` timed runs."""
    timer = timeit.Timer(fn)
    number = max(timer.autorange()[0], 1)
    return statistics.median(timer.repeat(reps, number)) / number


def measure(reps, build):
    """Every figure, in seconds per call, measured on the Xvfb in $DISPLAY."""
    import numpy as np
    import zorsck
    from zorsck import mss
    from PIL import ImageGrab
    f = {}
    screen, sct, shot = zorsck.Screen(0), mss.mss(), OneShot()
    for w, h in SIZES:
        out = np.empty((h, w, 4), np.uint8)
        rect = {"left": X, "top": Y, "width": w, "height": h}
        pil = lambda: ImageGrab.grab(bbox=(X, Y, X + w, Y + h), xdisplay=os.environ["DISPLAY"])
        checks = {"grab": screen.grab(X, Y, w, h)[0, 0, 2::-1], "grab_into": screen.grab_into(out, X, Y)[0, 0, 2::-1],
                  "mss": sct.grab(rect).pixel(0, 0), "oneshot": shot.grab(X, Y, w, h)[2::-1], "pillow": pil().getpixel((0, 0))[:3]}
        for name, rgb in checks.items():
            if tuple(int(v) for v in rgb[:3]) != painted(X, Y):
                sys.exit(f"{name} does not show the painted screen at {X},{Y}: {tuple(rgb)}")
        f[f"grab/{w}x{h}"] = per_call(lambda: screen.grab(X, Y, w, h), reps)
        f[f"grab_into/{w}x{h}"] = per_call(lambda: screen.grab_into(out, X, Y), reps)
        f[f"mss/{w}x{h}"] = per_call(lambda: sct.grab(rect), reps)
        screen.stop()  # the one-shot grabs and Pillow get the server to themselves
        f[f"oneshot/{w}x{h}"] = per_call(lambda: shot.grab(X, Y, w, h), reps)
        f[f"pillow/{w}x{h}"] = per_call(pil, reps)
    binary = os.path.join(build, "bench", "x11", "zorsck-x11-bench")
    if os.path.exists(binary):
        with tempfile.NamedTemporaryFile(suffix=".json") as out:
            subprocess.run([binary, "--benchmark_filter=BM_Crop/(64/64|640/480)/", f"--benchmark_repetitions={reps}",
                            "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}"],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for b in json.load(open(out.name))["benchmarks"]:
                if b.get("aggregate_name") == "median":
                    w, h = b["run_name"].split("/")[1:3]
                    f[f"c_crop/{w}x{h}"] = b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}[b["time_unit"]]
    return f


def t(s): return f"{s * 1e3:.2f} ms" if s >= 1e-3 else f"{s * 1e6:.2f} us"


def table(f):
    """The Markdown rows: each zorsck figure against what a Python user would otherwise call."""
    rows = []

    def row(what, ours, other, label, faster=True, target=None):
        if ours not in f or other not in f:
            return rows.append(f"| {what} | {t(f[ours]) if ours in f else '-'} | - ({label}) | - | - | - |")
        r = f[other] / f[ours] if faster else f[ours] / f[other]
        goal = "-" if target is None else (f">= {target}x faster" if faster else f"<= {target}x")
        ok = "-" if target is None else "pass" if (r >= target if faster else r <= target) else "FAIL"
        rows.append(f"| {what} | {t(f[ours])} | {t(f[other])} ({label}) | {r:.{2 if r < 10 else 1 if r < 100 else 0}f}x{' faster' * faster} | {goal} | {ok} |")
    for w, h in SIZES:
        s = f"{w}x{h}"
        row(f"Screen.grab {s}", f"grab/{s}", f"pillow/{s}", "Pillow ImageGrab.grab", target=100 if w == 64 else None)
        row(f"Screen.grab {s}", f"grab/{s}", f"oneshot/{s}", "one-shot MIT-SHM grab, ctypes", target=10 if w == 64 else None)
        row(f"Screen.grab_into {s}", f"grab_into/{s}", f"oneshot/{s}", "one-shot MIT-SHM grab, ctypes")
        row(f"mss drop-in grab {s}", f"mss/{s}", f"oneshot/{s}", "one-shot MIT-SHM grab, ctypes")
        row(f"Screen.grab_into {s} against C", f"grab_into/{s}", f"c_crop/{s}", "zor_sck_crop from C, BM_Crop",
            faster=False, target=1.5 if w == 640 else None)
    return rows


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--repetitions", type=int, default=5)
    p.add_argument("--write", action="store_true", help="update bench/RESULTS-python.md")
    p.add_argument("--inside-xvfb", metavar="OUT", help=argparse.SUPPRESS)
    a = p.parse_args()
    build = build_dir()
    if a.inside_xvfb:
        return json.dump(measure(a.repetitions, build), open(a.inside_xvfb, "w"))
    env = dict(os.environ, ZORSCK_LIBRARY=os.environ.get("ZORSCK_LIBRARY", os.path.join(build, "src", "libzorsck.so")))
    env = {k: v for k, v in env.items() if not k.startswith("ZOR_SCK_")}
    before = os.getloadavg()[0]
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([os.path.join(build, "tools", "xvfb", "zorsck-xvfb"), "--screen", "1920x1080", "--", "/usr/bin/python3",
                        os.path.abspath(__file__), "--repetitions", str(a.repetitions), "--inside-xvfb", out.name], check=True, env=env)
        figures = json.load(open(out.name))
    cpu = open("/proc/cpuinfo").read()
    head = (f"Measured {datetime.datetime.now():%Y-%m-%d %H:%M} on {cpu.split('model name')[1].split(':')[1].splitlines()[0].strip()}, "
            f"{cpu.count('processor')} cores, load average {before:.2f} before, {os.getloadavg()[0]:.2f} after; Xvfb 1920x1080x24, rectangles at ({X}, {Y}); median of {a.repetitions} repetitions; "
            f"library {os.path.relpath(env['ZORSCK_LIBRARY'], ROOT)}.")
    text = "\n".join([head, "", "| figure | zorsck | compared with | ratio | target | result |", "|---|---|---|---|---|---|", *table(figures)])
    print(text + "\n")
    if a.write:
        path = os.path.join(ROOT, "bench", "RESULTS-python.md")
        old = open(path).read() if os.path.exists(path) else "# Python grabs\n\nMeasured"
        open(path, "w").write(old[:old.index("Measured")] + text + (old[old.index("\n\n", old.index("|---")):] if "|---" in old else "\n"))


if __name__ == "__main__":
    main()
