"""Fresh grabs against python-mss on the Xvfb in $DISPLAY: bench/run imports this module and calls
measure() on its server. python-mss comes from PYTHONPATH (its checkout's src/ directory); without
it measure() says why and measures nothing."""
import ctypes, os, statistics, sys, time, timeit, warnings

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "python"))
SIZES = ((64, 64), (640, 480), (1920, 1080))
BATCH = 0.3  # seconds of drawing and grabbing in one batch of grabs after a change


def corner(w, h):
    """The top-left corner of a w x h rectangle: (640, 300) as in bench/x11 when it fits, else (0, 0)."""
    return (640, 300) if 640 + w <= 1920 and 300 + h <= 1080 else (0, 0)


def painted(x, y):
    """(B, G, R) that tools/xvfb paints at (x, y) of screen 0 (generation 1)."""
    v = ((x & 0x7FF) | (y & 0x7FF) << 11) ^ 0x9E3779B1 & 0xFFFFFF
    return v & 255, v >> 8 & 255, v >> 16


def bgr(rgb):
    """(B, G, R) of a 0xRRGGBB colour."""
    return rgb & 255, rgb >> 8 & 255, rgb >> 16


class Painter:
    """Another X client: fills a rectangle with one colour and waits until the server has drawn it."""

    def __init__(self):
        x11 = ctypes.CDLL("libX11.so.6")
        vp, ul, i, u = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
        x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = vp, [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype, x11.XDefaultRootWindow.argtypes = ul, [vp]
        x11.XCreateGC.restype, x11.XCreateGC.argtypes = vp, [vp, ul, ul, vp]
        x11.XSetForeground.argtypes = [vp, vp, ul]
        x11.XFillRectangle.argtypes = [vp, ul, vp, i, i, u, u]
        x11.XSync.argtypes = [vp, i]
        self.x11, self.dpy = x11, x11.XOpenDisplay(None)
        self.root = x11.XDefaultRootWindow(self.dpy)
        self.gc = x11.XCreateGC(self.dpy, self.root, 0, None)
        self.colour = 0x204060

    def fill(self, x, y, w, h):
        """Fills the rectangle with a colour it did not have and syncs; returns the colour's (B, G, R)."""
        self.colour = (self.colour + 0x3B7F1D) & 0xFFFFFF
        self.x11.XSetForeground(self.dpy, self.gc, self.colour)
        self.x11.XFillRectangle(self.dpy, self.root, self.gc, x, y, w, h)
        self.x11.XSync(self.dpy, 0)
        return bgr(self.colour)


class Fresh:
    """zorsck_now and zorsck_crop_since called through ctypes on the library the package loaded."""

    def __init__(self, lib):
        u32, i32, u64, p64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64, ctypes.POINTER(ctypes.c_uint64)
        lib.zorsck_now.argtypes, lib.zorsck_now.restype = [], u64
        lib.zorsck_crop_since.argtypes = [u32, u64, i32, i32, u32, u32, ctypes.c_void_p, p64, p64, u32]
        lib.zorsck_crop_since.restype = i32
        self.lib, self.ts, self.seq = lib, ctypes.c_uint64(), ctypes.c_uint64()
        self.outs = (ctypes.pointer(self.ts), ctypes.pointer(self.seq))
        self.ran_out = 0  # crops whose 100 ms wait ran out, asked again with the same mark

    def grab(self, x, y, w, h):
        """A new (h, w, 4) array of the screen as it is now, as Screen.grab(fresh=True) means it."""
        import numpy as np
        out = np.empty((h, w, 4), np.uint8)
        since = self.lib.zorsck_now()
        while (status := self.lib.zorsck_crop_since(0, since, x, y, w, h, out.ctypes.data, *self.outs, 100)) == 1:
            self.ran_out += 1
        if status != 0:
            raise RuntimeError(f"zorsck_crop_since answered {status}")
        return out


def python_mss():
    """python-mss's module, or the reason it cannot be imported."""
    try:
        import mss
        return mss, None
    except ImportError as e:
        return None, f"python-mss cannot be imported ({e})"


def opened(module):
    """An MSS object of `module` (python-mss or the drop-in), made as its documentation says."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # python-mss 10.2 on deprecates mss.mss()
        return module.MSS() if hasattr(module, "MSS") else module.mss()


def first_pixel(shot):
    """(B, G, R) of a ScreenShot's top-left pixel."""
    return tuple(bytes(shot.bgra[:3]))


def still(fn, numbers, key):
    """Seconds per call of `fn` over one batch; the batch's size is picked at the first batch of `key`."""
    timer = timeit.Timer(fn)
    if key not in numbers:
        numbers[key] = max(timer.autorange()[0], 1)
    return timer.timeit(numbers[key]) / numbers[key]


def after_change(grab, pick, painter, x, y, w, h):
    """Median seconds of one grab right after another client drew the rectangle anew; checks each grab shows it."""
    times, start = [], time.monotonic()
    while len(times) < 10 or time.monotonic() - start < BATCH:
        want = painter.fill(x, y, w, h)
        began = time.perf_counter()
        shot = grab()
        times.append(time.perf_counter() - began)
        if pick(shot) != want:
            sys.exit(f"a grab after the change shows {pick(shot)}, not the drawn {want}")
    return statistics.median(times)


def loop(sct, seconds=1.0):
    """Grabs per second of a plain grab loop over the first monitor, as python-mss's examples run it."""
    monitor = sct.monitors[1]
    sct.grab(monitor)  # the first grab of the drop-in starts its stream
    count, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        sct.grab(monitor)
        count += 1
    return count / (time.perf_counter() - start)


def checked(name, rgb, x, y):
    """Exits unless `rgb` is the painted pattern at (x, y)."""
    if tuple(int(v) for v in rgb) != painted(x, y):
        sys.exit(f"{name} does not show the painted screen at {x},{y}: {tuple(rgb)}")


def check_pattern(sct, screen, fresh):
    """Before anything is drawn: every grabber shows the painted pattern."""
    for w, h in SIZES:
        x, y = corner(w, h)
        checked(f"python-mss {w}x{h}", first_pixel(sct.grab({"left": x, "top": y, "width": w, "height": h})), x, y)
        checked(f"Screen.grab {w}x{h}", screen.grab(x, y, w, h)[0, 0, :3], x, y)
        checked(f"zorsck_crop_since {w}x{h}", fresh.grab(x, y, w, h)[0, 0, :3], x, y)


def size_batch(f, numbers, sct, screen, fresh, painter, w, h):
    """One batch of every grab of one size into f[kind][size]: python-mss with zorsck's stream stopped, then zorsck's."""
    x, y = corner(w, h)
    rect, size = {"left": x, "top": y, "width": w, "height": h}, f"{w}x{h}"
    add = lambda kind, value: f.setdefault(kind, {}).setdefault(size, []).append(value)
    screen.stop()  # python-mss gets the server to itself
    add("mss_still", still(lambda: sct.grab(rect), numbers, "mss" + size))
    add("mss_change", after_change(lambda: sct.grab(rect), first_pixel, painter, x, y, w, h))
    screen.grab(x, y, w, h)  # waits for the first frame of the stream it starts
    for _ in range(3):  # the stream sees the screen still
        fresh.grab(x, y, w, h)
    add("held", still(lambda: screen.grab(x, y, w, h), numbers, "held" + size))
    add("fresh_still", still(lambda: fresh.grab(x, y, w, h), numbers, "fresh" + size))
    add("package_still", still(lambda: screen.grab(x, y, w, h, fresh=True), numbers, "package" + size))
    pick = lambda out: tuple(int(v) for v in out[0, 0, :3])
    add("fresh_change", after_change(lambda: fresh.grab(x, y, w, h), pick, painter, x, y, w, h))
    add("package_change", after_change(lambda: screen.grab(x, y, w, h, fresh=True), pick, painter, x, y, w, h))


def loop_batch(f, pymss, screen):
    """One timed loop each of python-mss's grab and the drop-in's default grab, zorsck's stream stopped first."""
    from zorsck import mss as dropin
    screen.stop()
    with opened(pymss) as sct:
        f.setdefault("mss_loop", []).append(loop(sct))
    with opened(dropin) as sct:
        f.setdefault("dropin_loop", []).append(loop(sct))


def about(pymss, sct):
    """What the table's head says of python-mss: its version, backend, and whether it grabs through MIT-SHM."""
    impl = getattr(sct, "_impl", sct)
    status = getattr(impl, "shm_status", None)
    how = type(impl).__name__ + (f", MIT-SHM {status.name.lower()}" if status is not None else "")
    return {"version": getattr(pymss, "__version__", "?"), "how": how}


def measure(reps):
    """Every figure, `reps` interleaved batches each: {kind: {size: [seconds]}} and the loops' grabs per second."""
    pymss, why = python_mss()
    if pymss is None:
        return {"skipped": why}
    import zorsck
    f, numbers = {}, {}
    screen, painter = zorsck.Screen(0), Painter()
    fresh = Fresh(zorsck._lib.load())
    with opened(pymss) as sct:
        check_pattern(sct, screen, fresh)
        f["mss"] = about(pymss, sct)
        for _ in range(reps):
            for w, h in SIZES:
                size_batch(f, numbers, sct, screen, fresh, painter, w, h)
    for _ in range(reps):
        loop_batch(f, pymss, screen)
    screen.stop()  # the drawing of the C figures after these finds no stream of this process
    f["ran_out"] = fresh.ran_out
    return f
