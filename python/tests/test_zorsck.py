import concurrent.futures
import contextlib
import ctypes
import datetime
import os
import subprocess
import sys
import threading
import time
import tracemalloc
import types

import numpy as np
import pytest

import zorsck
from zorsck import _lib, cli, layout, mss, screen as screen_module
from zorsck.layout import Display

W, H = 1920, 1080  # the simulated library's default display


def expected(x, y, w, h, seq):
    """The simulated display's pattern: B = X, G = Y, R = X/256 + 16 * (Y/256), A = frame number."""
    X, Y = np.meshgrid(np.arange(x, x + w), np.arange(y, y + h))
    return np.stack([X % 256, Y % 256, (X >> 8) % 16 + 16 * ((Y >> 8) % 16),
                     np.full_like(X, seq % 256)], axis=-1).astype(np.uint8)


@pytest.fixture(scope="module")
def screen():
    with zorsck.Screen() as s:
        yield s


def grab_into_array(s, x, y, w, h):
    return s.grab_into(np.zeros((h, w, 4), np.uint8), x, y)


def grab_into_bytes(s, x, y, w, h):
    out = bytearray(w * h * 4)
    s.grab_into(out, x, y, size=(w, h))
    return np.frombuffer(out, np.uint8).reshape(h, w, 4)


def grab_without_numpy(s, x, y, w, h):
    saved, screen_module._np = screen_module._np, None
    try:
        out = s.grab(x, y, w, h)
    finally:
        screen_module._np = saved
    assert isinstance(out, zorsck.Pixels) and (out.width, out.height) == (w, h)
    return np.frombuffer(out, np.uint8).reshape(h, w, 4)


@pytest.mark.parametrize("how", [zorsck.Screen.grab, grab_into_array, grab_into_bytes, grab_without_numpy])
@pytest.mark.parametrize("rect", [(0, 0, 1, 1), (255, 255, 3, 2), (W - 3, H - 2, 3, 2), (300, 600, 64, 48)])
def test_grab_copies_exact_pixels(screen, how, rect):
    np.testing.assert_array_equal(how(screen, *rect), expected(*rect, screen.seq))
    age = datetime.datetime.now(datetime.timezone.utc) - screen.timestamp
    assert screen.timestamp.tzinfo is datetime.timezone.utc and abs(age.total_seconds()) < 5


def test_grab_many_cuts_one_frame(screen):
    rects = [(x, y, 400, 300) for x in (0, 700, 1500) for y in (0, 500)] * 4
    arrays = screen.grab_many(rects)
    for array, rect in zip(arrays, rects):
        np.testing.assert_array_equal(array, expected(*rect, screen.seq))


def test_grab_into_allocates_nothing(screen):
    out = np.empty((480, 640, 4), np.uint8)
    screen.grab_into(out, 0, 0)
    tracemalloc.start()
    for _ in range(100):
        screen.grab_into(out, 10, 20)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert peak < 20_000, f"{peak} bytes traced around grabs of {out.nbytes} bytes"


class Listing:
    """A stand-in library's extensions: its displays as (id, x, y, w, h, flags), backend, latest line."""
    listing, backend, message = [(1, 0, 0, W, H, 3)], b"sim", ""

    def zorsck_displays(self, out, capacity, count):
        count.contents.value = len(self.listing)
        for i, (ident, x, y, w, h, flags) in enumerate(self.listing[:capacity]):
            out[i] = _lib.CDisplay(ident, flags, x, y, w, h, 1.0)
        return 0

    def zorsck_backend(self): return self.backend

    def zorsck_last_message(self, out, capacity):
        out.value = self.message.encode()[:capacity - 1]
        return len(self.message.encode())


NOW = 10**12  # the stand-in's clock at its first reading; each reading is a second later


class Stub(Listing):
    """A stand-in library: answers from lists (the last one repeats; zorsck_crop_since as
    zor_sck_crop) and records every call, and the `since` and wait of each fresh crop."""

    def __init__(self, ensure=0, crop=(0,), crop_seq=(0,), seq=7, listing=Listing.listing):
        self.answers = {"ensure": [ensure], "crop": list(crop), "crop_seq": list(crop_seq)}
        self.seq, self.calls, self.listing, self.fresh = seq, [], listing, []

    def _answer(self, name, outs=(), answers=None):
        self.calls.append(name)
        answers = self.answers[answers or name]
        status = answers.pop(0) if len(answers) > 1 else answers[0]
        if status == 0 and outs:
            outs[1].contents.value = self.seq
        return status

    def zor_sck_ensure(self, display, fps): return self._answer("ensure")
    def zor_sck_crop(self, *args): return self._answer("crop", args[-2:])
    def zor_sck_crop_seq(self, *args): return self._answer("crop_seq", args[-2:])

    def zorsck_now(self):
        self.calls.append("now")
        return NOW + (self.calls.count("now") - 1) * 10**9

    def zorsck_crop_since(self, display, since, *args):
        self.fresh.append((since, args[-1]))
        return self._answer("crop_since", args[-3:-1], "crop")
    def zor_sck_seq(self): return self.seq
    def zor_sck_stop(self): self.calls.append("stop")


@pytest.fixture
def stub():
    previous = _lib.use(None)
    yield lambda **answers: _lib.use(Stub(**answers)) or _lib.load()
    _lib.use(previous)


@pytest.mark.parametrize("answers, call, error", [
    (dict(crop=(-1,)), lambda s: s.grab(0, 0, 1, 1), zorsck.CaptureUnavailable),
    (dict(crop=(2,)), lambda s: s.grab(0, 0, 1, 1), ValueError),
    (dict(crop=(1,)), lambda s: s.grab(0, 0, 1, 1, timeout=0), TimeoutError),
    (dict(crop=(1,)), lambda s: s.grab(0, 0, 1, 1, timeout=0.01, fresh=True), TimeoutError),
    (dict(crop_seq=(3,)), lambda s: s.grab_many([(0, 0, 1, 1)] * 2), zorsck.FrameGone),
    (dict(crop_seq=(2,)), lambda s: s.grab_many([(0, 0, 1, 1)] * 2), zorsck.NotServable),
])
def test_each_refusal_raises_its_error(stub, answers, call, error):
    stub(**answers)
    with pytest.raises(error) as raised:
        call(zorsck.Screen())
    assert isinstance(raised.value, zorsck.ZorsckError)


def test_grab_many_starts_over_when_the_frame_is_replaced(stub):
    lib = stub(crop_seq=(0, 3, 0), seq=5)
    s = zorsck.Screen()
    assert len(s.grab_many([(0, 0, 1, 1)] * 3)) == 3 and s.seq == 5
    assert lib.calls == ["ensure", "crop", "crop_seq", "crop_seq", "crop", "crop_seq", "crop_seq"]


def test_the_stream_stops_when_the_last_open_screen_closes(stub, monkeypatch):
    monkeypatch.setattr(screen_module, "_open", 0)
    lib, kept = stub(), zorsck.Screen()
    for _ in range(3):
        with zorsck.Screen() as s:
            s.grab(0, 0, 1, 1)
    kept.close()
    kept.close()
    with zorsck.Screen():
        zorsck.stop()  # at once, whatever is open
    assert [c for c in lib.calls if c != "crop"] == ["ensure"] * 4 + ["stop", "ensure", "stop", "stop"]


@pytest.mark.parametrize("used_by, env, said, platform, cause", [
    (1, {"DISPLAY": ":0"}, "this process is a fork", "linux",
     r"forked from process 1 after .* 'spawn' or 'forkserver'"),
    (None, {}, "", "linux", r"neither DISPLAY nor WAYLAND_DISPLAY is set"),
    (None, {"DISPLAY": ":0"}, "X11 capture is unavailable: libxcb-shm.so.0 cannot be loaded (not found)", "linux",
     r"libxcb-shm.so.0 cannot be loaded: install libxcb-shm0 \(Debian, Ubuntu\) or libxcb \(Fedora\) \(the library says: X11"),
    (None, {"DISPLAY": ":0"}, "no usable X display at DISPLAY=:0", "linux", r"MIT-SHM.*says: no usable X display"),
    (None, {}, "", "darwin", r"Screen Recording\), or macOS is older than 12.3$"),
])
def test_unavailable_capture_names_the_cause_on_this_platform(stub, monkeypatch, used_by, env, said, platform, cause):
    monkeypatch.setattr(_lib, "used_by", used_by)
    monkeypatch.setattr(os, "environ", env)
    monkeypatch.setattr("sys.platform", platform)
    stub(ensure=-1).message = said
    with pytest.raises(zorsck.CaptureUnavailable, match=cause) as raised:
        zorsck.Screen()
    assert ("DISPLAY" if platform == "darwin" else "macOS") not in str(raised.value)


def test_displays_are_the_librarys_list_and_unknown_ids_start_nothing(stub, capsys):
    lib = stub(listing=[(7, -1920, 0, 1920, 1200, 2)] + [(10 + i, 0, 0, 640, 480, i == 0) for i in range(8)])
    found = zorsck.displays()
    assert [(d.id, d.x, d.y, d.width, d.primary) for d in found[:2]] == [(7, -1920, 0, 1920, False),
                                                                          (10, None, None, 640, True)]
    assert len(found) == 9 and layout.display(0).id == 10 and lib.calls == []
    with pytest.raises(zorsck.UnknownDisplay, match=r"no display 5: the library lists 7, 10, 11"):
        zorsck.Screen(5)
    assert lib.calls == [] and zorsck.Screen(17).display == 17
    assert [m["left"] for m in mss.mss().monitors[:4]] == [0, 0, 1920, 2560]  # no places known: a row
    assert cli.main(["displays"]) == 0 and "10  640x480    ?        1      yes: display 0\n" in capsys.readouterr().out
    lib.backend, lib.listing = b"x11", [(1 << 29 | 7, 0, 0, 640, 480, 3), (239, 0, 0, 1365, 767, 2)]
    assert mss.mss().monitors == [{"left": 0, "top": 0, "width": 640, "height": 480}] * 2  # DISPLAY's X screen


read_only = np.zeros((2, 2, 4), np.uint8)
read_only.flags.writeable = False


@pytest.mark.parametrize("call, error, named", [
    (lambda s: s.grab(0, 0, 0, 1), ValueError, "width"),
    (lambda s: s.grab(2**31, 0, 1, 1), ValueError, "x"),
    (lambda s: s.grab(0.5, 0, 1, 1), TypeError, "x"),
    (lambda s: s.grab(0, 0, 1, 1, timeout="1"), TypeError, "timeout"),
    (lambda s: s.grab(0, 0, 1, 1, fresh="x"), TypeError, "fresh must be True, False or the seconds"),
    (lambda s: s.grab_into(np.zeros((1, 1, 4), np.uint8), 0, 0, fresh=-0.5), ValueError, "fresh"),
    (lambda s: s.grab_many([(0, 0, 1, 1)], fresh=float("nan")), ValueError, "fresh"),
    (lambda s: zorsck.Screen(0, timeout=None), TypeError, "timeout"),
    (lambda s: zorsck.displays(timeout=-1), ValueError, "timeout"),
    (lambda s: s.grab_into(np.zeros((2, 2, 4), np.float32), 0, 0), TypeError, "uint8"),
    (lambda s: s.grab_into(np.zeros((2, 4, 4), np.uint8)[:, ::2], 0, 0), ValueError, "contiguous"),
    (lambda s: s.grab_into(np.zeros((0, 2, 4), np.uint8), 0, 0), ValueError, "empty"),
    (lambda s: s.grab_into(read_only, 0, 0), ValueError, "writable"),
    (lambda s: s.grab_into(bytes(16), 0, 0, size=(2, 2)), ValueError, "writable"),
    (lambda s: s.grab_into(bytearray(15), 0, 0, size=(2, 2)), ValueError, "bytes"),
    (lambda s: s.grab_into(bytearray(16), 0, 0, size=(2, 2, 1)), TypeError, "size"),
    (lambda s: s.grab_many([(0, 0, 1)]), TypeError, "rects"),
    (lambda s: s.grab_many([(0, 0, 1, 1)], attempts=0), ValueError, "attempts"),
    (lambda s: mss.mss(compression_level=10), ValueError, "compression_level"),
    (lambda s: mss.mss().grab({"left": 0, "top": 0, "width": 1.5, "height": 1}), TypeError, "width"),
    (lambda s: next(mss.mss().save(mon="1")), TypeError, "mon"),
    (lambda s: mss_grab(fresh="yes"), TypeError, "fresh"),
])
def test_bad_input_raises_before_any_call(stub, call, error, named):
    lib = stub()
    s = zorsck.Screen()
    with pytest.raises(error, match=named):
        call(s)
    assert [c for c in lib.calls if c != "now"] == ["ensure"]  # reading the clock changes nothing


def test_library_search_prefers_its_own_copy_then_the_versioned_name(tmp_path, monkeypatch):
    for path in ("lib/libzorsck.so", "lib/libzorsck.so.0", "lib/libzorsck-sim.so.0", "own/libzorsck.so.0",
                 "own/libzorsck-sim.so.0"):
        (tmp_path / path).parent.mkdir(exist_ok=True)
        (tmp_path / path).touch()
    monkeypatch.setattr("sys.prefix", str(tmp_path))
    monkeypatch.setattr(_lib, "__file__", str(tmp_path / "own" / "_lib.py"))
    monkeypatch.delenv("ZORSCK_LIBRARY")
    assert _lib.candidates()[:3] == [str(tmp_path / p) for p in
                                     ("own/libzorsck.so.0", "lib/libzorsck.so.0", "lib/libzorsck.so")]
    monkeypatch.setenv("ZORSCK_LIBRARY", "/x/libz.so")
    assert _lib.candidates() == ["/x/libz.so"]


def test_a_library_older_than_the_package_is_named_with_what_it_lacks(stub, monkeypatch):
    older = types.SimpleNamespace(**{name: types.SimpleNamespace() for name in _lib.SYMBOLS[:-2]})
    monkeypatch.setattr(_lib.ctypes, "CDLL", lambda path: older)
    monkeypatch.setenv("ZORSCK_LIBRARY", "/old/libzorsck.so.0")
    with pytest.raises(zorsck.LibraryNotFound, match=r"no libzorsck of this package's version found; .*"
                       r"tried /old/libzorsck.so.0 lacks zorsck_now, zorsck_crop_since: it is older"):
        zorsck.Screen()


def test_mss_drop_in_shape(tmp_path):
    assert mss.__version__ == zorsck.__version__
    with mss.mss() as sct:
        assert sct.monitors == [{"left": 0, "top": 0, "width": W, "height": H}] * 2
        by_dict = sct.grab({"left": 250, "top": 500, "width": 20, "height": 10})
        names = list(sct.save(mon=-1, output=str(tmp_path / "all-{mon}-{width}.png")))
    assert names == [str(tmp_path / f"all-0-{W}.png")]
    assert (by_dict.size, by_dict.pos) == ((20, 10), (250, 500))
    array = np.array(by_dict)
    want = expected(250, 500, 20, 10, array[0, 0, 3])
    np.testing.assert_array_equal(array, want)
    assert by_dict.pixel(19, 9) == tuple(want[9, 19, 2::-1]) == by_dict.pixels[9][19]
    assert by_dict.rgb == want[:, :, 2::-1].tobytes()
    with pytest.raises(mss.exception.ScreenShotError):
        by_dict.pixel(20, 0)


def test_mss_composes_the_screen_from_its_monitors():
    class Shot(mss.ScreenShot):
        pass
    sct = mss.mss()
    sct.cls_image = Shot
    sct._layout = [Display(0, 0, 0, 100, 50, 1.0, True), Display(0, 200, 10, 100, 50, 1.0, False)]
    assert sct.monitors[0] == {"left": 0, "top": 0, "width": 300, "height": 60}  # around every monitor
    shot = sct.grab({"left": 90, "top": 5, "width": 120, "height": 10})
    assert type(shot) is Shot
    shot = np.array(shot)[:, :, :3]
    np.testing.assert_array_equal(shot[:, :10], expected(90, 5, 10, 10, 0)[:, :, :3])
    assert not shot[:5, 10:].any() and not shot[:, 10:110].any()
    np.testing.assert_array_equal(shot[5:, 110:], expected(0, 0, 10, 5, 0)[:, :, :3])
    off_monitors = np.array(sct.grab({"left": 100, "top": 0, "width": 100, "height": 60}))
    assert (off_monitors == [0, 0, 0, 255]).all()
    for bad in ({"left": 250, "top": 0, "width": 51, "height": 5}, (0, -1, 5, 5), (0, 0, 0, 5)):
        with pytest.raises(mss.ScreenShotError):
            sct.grab(bad)


@pytest.mark.parametrize("name, same", [(":91", True), (":91.0", True), ("unix:91", True), (":091", True),
                                        (":92", False), (":91.1", False), ("elsewhere:91", False)])
def test_mss_keeps_the_x_server_of_the_first_capture_however_spelled(stub, monkeypatch, name, same):
    monkeypatch.setenv("DISPLAY", ":91")
    stub().backend = b"x11"
    zorsck.Screen()  # works: the library keeps :91
    with pytest.raises(mss.ScreenShotError, match="names another X server") if not same else contextlib.nullcontext():
        mss.mss(display=name)


class OneStream(Listing):
    """A stand-in with the library's one stream: a crop with none starts one for its display
    (display 0: the first of `sizes`), whose frames come after `delay` more crops; a crop of
    another display, or of one not in `sizes`, answers 2, and an ensure of another display
    stops a running stream (not a starting one). Pixels are filled with the display's id."""

    def __init__(self, sizes, delay=2, places=None):
        self.sizes, self.delay = sizes, delay
        self.listing = [(d, *(places or {}).get(d, (0, 0)), w, h, (1 if i == 0 else 0) | (2 if places else 0))
                        for i, (d, (w, h)) in enumerate(sizes.items())]
        self.lock = threading.Lock()
        self.display, self.wait, self.seq = None, 0, 0

    def zor_sck_ensure(self, display, fps):
        with self.lock:
            if not self.wait and display not in (0, self.display):
                self.display = None
        return 0

    def zor_sck_crop(self, display, x, y, w, h, out, ts, seq):
        with self.lock:
            if not self.inside(display or self.display or next(iter(self.sizes)), x, y, w, h):
                return 2
            if self.display is None:
                self.display, self.wait = display or next(iter(self.sizes)), self.delay
            if self.wait:
                self.wait -= 1
                return 1
            if display not in (0, self.display):
                return 2
            self.seq += 1
            return self.fill(out, w, h, seq)

    def zor_sck_crop_seq(self, display, seq, x, y, w, h, out, ts, seq_out):
        with self.lock:
            if seq != self.seq or display not in (0, self.display):
                return 3
            return self.fill(out, w, h, seq_out) if self.inside(self.display, x, y, w, h) else 2

    def inside(self, display, x, y, w, h):
        width, height = self.sizes.get(display, (0, 0))
        return 0 <= x and 0 <= y and x + w <= width and y + h <= height

    def fill(self, out, w, h, seq):
        ctypes.memset(out, self.display, w * h * 4)
        seq.contents.value = self.seq
        return 0

    def zor_sck_seq(self): return self.seq
    def zor_sck_stop(self): self.zor_sck_ensure(-1, 0)
    def zorsck_now(self): return 1

    def zorsck_crop_since(self, display, since, *args):  # each frame is made at the crop: fresh
        return self.zor_sck_crop(display, *args[:-1])


@pytest.fixture
def one_stream():
    previous = _lib.use(None)
    yield lambda *a, **k: _lib.use(OneStream(*a, **k)) or _lib.load()
    _lib.use(previous)


def test_grabs_of_two_displays_switch_the_stream(one_stream):
    one_stream({5: (100, 100), 9: (50, 50)})
    a, b = zorsck.Screen(5), zorsck.Screen(9)
    for s, want in ((a, 5), (b, 9), (a, 5), (b, 9)):
        assert (s.grab(10, 10, 20, 20) == want).all()
    with pytest.raises(zorsck.NotServable):
        b.grab(40, 40, 20, 20)
    assert (a.grab_many([(0, 0, 5, 5), (90, 90, 10, 10)])[1] == 5).all()


def test_threads_on_two_monitors_each_get_every_picture(one_stream):
    one_stream({5: (100, 100), 9: (100, 100)}, places={5: (0, 0), 9: (100, 20)})
    failures = []
    assert mss.mss().monitors == [{"left": 0, "top": 0, "width": 200, "height": 120},
                                  {"left": 0, "top": 0, "width": 100, "height": 100},
                                  {"left": 100, "top": 20, "width": 100, "height": 100}]

    def shoot(index):
        with mss.mss() as sct:
            for _ in range(20):
                try:
                    assert set(sct.grab(sct.monitors[index]).raw[::4]) == {(5, 9)[index - 1]}
                except Exception as e:  # noqa: BLE001 - reported below
                    failures.append(e)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        list(pool.map(shoot, (1, 2)))
    assert failures == []


def test_region_mode_serves_rectangles_across_the_display():
    script = """if True:
        import os, numpy as np, zorsck
        from zorsck import Screen
        os.environ["ZOR_SCK_REGION"] = "1"  # after the import, before the first crop
        s = Screen()
        s.grab(0, 0, 10, 10)
        got = s.grab(400, 300, 20, 20)
        assert (got[:, :, 0] == np.arange(400, 420) % 256).all(), got[0, :, 0]
        rects = [(0, 0, 10, 10), (1900, 0, 20, 20), (0, 1070, 10, 10), (960, 540, 1, 1)]
        arrays = s.grab_many(rects)
        assert [int(a[0, 0, 0]) for a in arrays] == [x % 256 for x, *_ in rects]
        assert len({int(a[0, 0, 3]) for a in arrays}) == 1
        try:
            s.grab(0, 0, 1920, 1000)
            raise SystemExit("a rectangle over 0.6 of the display was served")
        except zorsck.NotServable as e:
            assert "1920x1000 is larger than 0.6 of the display in region mode" in str(e), e
    """
    env = dict(os.environ, PYTHONPATH=os.path.dirname(zorsck.__path__[0]))
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr


def mss_grab(fresh=None, across=False):
    """The drop-in after a grab (`fresh` unless None); `across` two monitors of display 1 side by side."""
    sct = mss.mss()
    if fresh is not None:
        sct.fresh = fresh
    if across:
        sct._layout = [Display(1, 0, 0, 2, 2, 1.0, True), Display(1, 2, 0, 2, 2, 1.0, False)]
    sct.grab((1, 0, 3, 1) if across else (0, 0, 8, 8))
    return sct


@pytest.mark.parametrize("call, calls, since", [
    (lambda s: s.grab(0, 0, 1, 1, fresh=True), ["now", "crop_since", "crop_since"], NOW),
    (lambda s: s.grab_into(bytearray(4), 0, 0, size=(1, 1), fresh=0.25), ["now", "crop_since", "crop_since"],
     NOW - 250_000_000),
    (lambda s: s.grab(0, 0, 1, 1, fresh=NOW / 1e9 + 1), ["now", "crop_since", "crop_since"], 0),
    (lambda s: s.grab_many([(0, 0, 1, 1)] * 2, fresh=True), ["now", "crop_since", "crop_since", "crop_seq"], NOW),
    (lambda s: s.grab(0, 0, 1, 1), ["crop", "crop"], None),
    (lambda s: mss_grab(), ["now", "ensure", "crop_since", "crop_since"], NOW),
    (lambda s: mss_grab(across=True), ["now", "ensure", "crop_since", "crop_since", "crop_since"], NOW),
    (lambda s: mss_grab(fresh=False), ["ensure", "crop", "crop"], None),
    (lambda s: cli.main(["shot", "-r", "0,0,1,1", "-o", "-"]), ["ensure", "now", "crop_since", "crop_since"], NOW),
])
def test_fresh_grabs_ask_for_a_frame_from_the_start_of_the_call(stub, call, calls, since):
    lib = stub(crop=(1, 0))  # not yet, then the frame
    call(zorsck.Screen(timeout=2))
    assert lib.calls == ["ensure"] + calls
    assert all(asked == since and 0 < wait_ms <= 5000 for asked, wait_ms in lib.fresh)


@pytest.mark.parametrize("grab", [lambda s: s.grab(0, 0, 8, 8, fresh=True) is not None and s,
                                  lambda s: s.grab_many([(0, 0, 8, 8)] * 2, fresh=True) and s,
                                  lambda s: mss_grab()._screens[1]])
def test_fresh_grabs_on_the_simulated_display_show_it_from_the_call_on(screen, grab):
    for _ in range(3):
        started = time.monotonic()
        called = datetime.datetime.fromtimestamp(time.time_ns() // 10**6 / 1000, datetime.timezone.utc)
        grabbed = grab(screen)
        # A frame from the call on, or the held one when none came for two frame intervals.
        assert grabbed.timestamp >= called or time.monotonic() - started >= 2 / 60
