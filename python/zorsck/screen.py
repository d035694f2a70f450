"""Screen: rectangles of one display as (h, w, 4) uint8 BGRA arrays."""
import ctypes
import datetime
import math
import numbers
import operator
import threading
import time

try:
    import numpy as _np
except ImportError:  # grabs then come back as Pixels
    _np = None

from . import _lib, layout
from .errors import CaptureUnavailable, FirstFrameTimeout, FrameGone, NotServable, UnknownDisplay, ZorsckError

OK, NO_FRAME_YET, NOT_SERVABLE, FRAME_GONE, ERROR = 0, 1, 2, 3, -1
I32 = (-(1 << 31), (1 << 31) - 1)
U32_MAX = (1 << 32) - 1
REGION_SHARE = 0.6  # region mode refuses a rectangle larger than this share of the display


class Pixels(bytearray):
    """BGRA pixels without numpy: rows top to bottom, width * 4 bytes each."""
    width = height = 0

    @classmethod
    def blank(cls, w, h):
        """Zeroed pixels of w x h."""
        p = cls(w * h * 4)
        p.width, p.height = w, h
        return p


def checked_int(value, low, high, what):
    """`value` as an int within [low, high], else TypeError / ValueError."""
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not low <= value <= high:
        raise ValueError(f"{what} {value} is outside [{low}, {high}]")
    return value


def checked_seconds(value, what, none=False):
    """`value` as a finite number of seconds from 0 (or None when `none`), else TypeError / ValueError."""
    if value is None and none:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number of seconds{' or None' if none else ''}, "
                        f"not {type(value).__name__}")
    if not (math.isfinite(value) and value >= 0):
        raise ValueError(f"{what} must be 0 or more seconds, not {value!r}")
    return float(value)


def checked_fresh(value):
    """fresh= checked: True / False, or the seconds a frame may be older than the call."""
    if isinstance(value, bool):
        return value
    if not isinstance(value, numbers.Real):
        raise TypeError(f"fresh must be True, False or the seconds a frame may be older than the call, "
                        f"not {type(value).__name__}")
    return checked_seconds(value, "fresh")


def fresh_since(mark, fresh):
    """The zorsck_now reading that a grab's frame must show the display from, for a call at `mark`
    with a checked `fresh`: None (any frame) for False, `fresh` seconds before `mark` for a number
    (0 when that is before the clock began: any frame, waited for while the stream starts)."""
    if fresh is False:
        return None
    if fresh is True:
        return mark
    age = fresh * 1e9
    return 0 if age >= mark else mark - int(age)


def region_refusal(display, w, h):
    """Why region mode refuses a w x h rectangle of `display` (a Display), or None when it does not."""
    if _lib.region_mode() and w * h > REGION_SHARE * display.width * display.height:
        return (f"{w}x{h} is larger than {REGION_SHARE} of the display in region mode (display {display.id} "
                f"is {display.width}x{display.height}; ZOR_SCK_REGION=1): grab smaller rectangles, or "
                f"unset ZOR_SCK_REGION for whole displays")
    return None


def checked_rect(x, y, w, h):
    """(x, y, w, h) checked: int32 corner, sizes from 1 to 2**32 - 1."""
    return (checked_int(x, *I32, "x"), checked_int(y, *I32, "y"),
            checked_int(w, 1, U32_MAX, "width"), checked_int(h, 1, U32_MAX, "height"))


def target(out, size=None):
    """(address, w, h, keep-alive) of a writable C-contiguous buffer for w x h BGRA pixels."""
    if _np is not None and isinstance(out, _np.ndarray):
        if out.dtype != _np.uint8 or out.ndim != 3 or out.shape[2] != 4:
            raise TypeError(f"need a uint8 array of shape (h, w, 4), not {out.dtype} {out.shape}")
        if not out.flags.c_contiguous or not out.flags.writeable:
            raise ValueError("the array must be C-contiguous and writable")
        h, w = out.shape[:2]
        if size is not None and tuple(size) != (w, h):
            raise ValueError(f"size {tuple(size)} does not match the array's {w}x{h}")
        if w == 0 or h == 0:
            raise ValueError("the array is empty")
        return out.__array_interface__["data"][0], w, h, None
    view = memoryview(out)
    if view.readonly or not view.c_contiguous:
        raise ValueError("the buffer must be writable and C-contiguous")
    if size is not None and (isinstance(size, (str, bytes)) or len(size) != 2):
        raise TypeError(f"size must be (width, height), not {size!r}")
    w, h = size if size is not None else (getattr(out, "width", 0), getattr(out, "height", 0))
    w, h = checked_int(w, 1, U32_MAX, "width"), checked_int(h, 1, U32_MAX, "height")
    if view.nbytes != w * h * 4:
        raise ValueError(f"the buffer holds {view.nbytes} bytes, {w}x{h} BGRA needs {w * h * 4}")
    keep = (ctypes.c_char * view.nbytes).from_buffer(view.cast("B"))
    return ctypes.addressof(keep), w, h, keep


class _Switch:
    """The display that one grab is switching the stream to, process-wide: until that grab
    has its frame, grabs of other displays wait instead of switching the stream back."""

    def __init__(self):
        self.cond = threading.Condition()
        self.display = None  # guarded by cond
        self.holders = 0  # guarded by cond: grabs of `display` holding the switch

    def wait_turn(self, display, deadline, claim=False):
        """Waits until no grab switches to another display (taking the switch when `claim`);
        any thread. Raises FirstFrameTimeout at `deadline`."""
        with self.cond:
            while self.display is not None and self.display != display:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise FirstFrameTimeout(f"display {display} waited for display {self.display} "
                                            f"until its timeout")
                self.cond.wait(left)
            if claim:
                self.display = display
                self.holders += 1

    def release(self):
        """Lets go of a switch taken with wait_turn(claim=True); any thread."""
        with self.cond:
            self.holders -= 1
            if self.holders == 0:
                self.display = None
                self.cond.notify_all()


_switch = _Switch()


_open_lock = threading.Lock()
_open = 0  # guarded by _open_lock: Screens made and not closed; the last to close stops the stream


def stop():
    """Stops the capture stream now, whichever Screen it serves; the next grab starts a new one."""
    _lib.load().zor_sck_stop()


class Screen:
    """Grabs rectangles of one display (0: the main one); usable from several threads.
    Closing the last open Screen of the process (also by leaving its `with` block) stops the stream."""

    _opened = False  # counted in _open

    def __init__(self, display=0, timeout=5.0):
        global _open
        self.display = checked_int(display, 0, U32_MAX, "display")
        self.timeout = checked_seconds(timeout, "timeout")  # a grab's wait for a starting stream's frame
        self._last = (0, 0)  # (seq, timestamp in ms) of the last grab's frame
        self._lib = _lib.load()
        self._local = threading.local()  # each thread's result variables
        if self.display != 0:
            listed = [d.id for d in layout.displays(self.timeout)]
            if self.display not in listed:
                raise UnknownDisplay(f"no display {self.display}: the library lists "
                                     f"{', '.join(map(str, listed)) or 'none'} (0 names the main one)")
        self._ensure()
        with _open_lock:
            _open += 1
            self._opened = True

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self._release()

    def _release(self):
        """Stops counting this Screen as open; True when it was the last open one."""
        global _open
        with _open_lock:
            if not self._opened:
                return False
            self._opened = False
            _open -= 1
            return _open == 0

    def close(self):
        """Closes this Screen; the stream stops when no other Screen of the process is open."""
        if self._release():
            self._lib.zor_sck_stop()

    @property
    def seq(self):
        """Sequence number of the last grab's frame; 0 before the first."""
        return self._last[0]

    def _outs(self):
        """(timestamp, seq, their pointers) of the calling thread, made at its first grab."""
        outs = getattr(self._local, "outs", None)
        if outs is None:
            ts, seq = ctypes.c_uint64(), ctypes.c_uint64()
            outs = self._local.outs = (ts, seq, ctypes.pointer(ts), ctypes.pointer(seq))
        return outs

    def _ensure(self):
        """Keeps the stream on this display (stopping one that runs on another display)."""
        _lib.used()
        if self._lib.zor_sck_ensure(self.display, 0) == ERROR:
            raise CaptureUnavailable(_lib.unavailable(self._lib))
        _lib.worked()

    def _budget(self, timeout):
        """(seconds, deadline) of a call's waits: `timeout`, or the Screen's when it is None."""
        limit = self.timeout if timeout is None else timeout
        return limit, time.monotonic() + limit

    def _copy(self, address, x, y, w, h, since, deadline, outs):
        """One crop of the latest frame, or with `since` (a zorsck_now reading) of a frame that
        shows the display from then on, which the library waits for until `deadline`."""
        if since is None:
            return self._lib.zor_sck_crop(self.display, x, y, w, h, address, *outs)
        wait_ms = min(max(math.ceil((deadline - time.monotonic()) * 1000), 0), U32_MAX)
        return self._lib.zorsck_crop_since(self.display, since, x, y, w, h, address, *outs, wait_ms)

    def _crop(self, address, x, y, w, h, budget, since=None):
        """Copies the rectangle into `address`, waiting within `budget` (see _budget) for a
        starting stream and switching a stream of another display to this one; with `since`
        only from a frame that shows the display from then on. Raises on refusal; returns the
        frame's seq. Any thread."""
        limit, deadline = budget
        ts, seq, *outs = self._outs()
        _lib.cropping()
        claimed, refusals, pause = False, 0, 0.0005
        try:
            while True:
                if _switch.display not in (None, self.display):
                    _switch.wait_turn(self.display, deadline)
                status = self._copy(address, x, y, w, h, since, deadline, outs)
                if status == OK:
                    self._last = (seq.value, ts.value)
                    return seq.value
                if status == NO_FRAME_YET:
                    refusals = 0
                    now = time.monotonic()
                    if now >= deadline:
                        raise FirstFrameTimeout(f"no {'' if since is None else 'fresh '}frame of display "
                                                f"{self.display} came within {limit} s")
                    time.sleep(min(pause, deadline - now))
                    pause = min(pause * 2, 0.01)
                elif status == NOT_SERVABLE and self.display != 0 and refusals < 2:
                    # The stream may capture another display: switch it here and ask again.
                    # Two refusals right after switching mean the rectangle is not servable.
                    if not claimed:
                        _switch.wait_turn(self.display, deadline, claim=True)
                        claimed = True
                    self._ensure()
                    refusals += 1
                elif status == NOT_SERVABLE:
                    raise NotServable(self._refusal(x, y, w, h))
                elif status == ERROR:
                    raise CaptureUnavailable(_lib.unavailable(self._lib))
                else:
                    raise ZorsckError(f"{'zor_sck_crop' if since is None else 'zorsck_crop_since'} "
                                      f"answered {status}")
        finally:
            if claimed:
                _switch.release()

    def _refusal(self, x, y, w, h):
        """Why the library refused the rectangle, by the display's size as the library lists it."""
        try:
            shown = layout.display(self.display, timeout=1.0)
        except ZorsckError:
            shown = None
        if shown is None:
            return f"{w}x{h} at ({x}, {y}) is not servable from display {self.display}"
        if x < 0 or y < 0 or x + w > shown.width or y + h > shown.height:
            return (f"{w}x{h} at ({x}, {y}) reaches past display {self.display} "
                    f"({shown.width}x{shown.height})")
        return region_refusal(shown, w, h) or f"{w}x{h} at ({x}, {y}) is not servable from display {self.display}"

    def _mark(self, fresh):
        """The library's clock at a call's start when the call may be fresh; None otherwise."""
        return None if fresh is False else self._lib.zorsck_now()

    def grab(self, x, y, w, h, timeout=None, fresh=False):
        """The w x h rectangle at (x, y): an (h, w, 4) uint8 BGRA array (Pixels without numpy).
        The latest frame may predate a change just made: fresh=True takes a frame that shows
        the display as it was at the call or later, fresh=<seconds> one at most that much older
        than the call, waiting for it within the timeout."""
        mark = self._mark(fresh)
        x, y, w, h = checked_rect(x, y, w, h)
        timeout, fresh = checked_seconds(timeout, "timeout", none=True), checked_fresh(fresh)
        out = _np.empty((h, w, 4), _np.uint8) if _np is not None else Pixels.blank(w, h)
        address = out.__array_interface__["data"][0] if _np is not None else target(out)[0]
        self._crop(address, x, y, w, h, self._budget(timeout), fresh_since(mark, fresh))
        return out

    def grab_into(self, out, x, y, size=None, timeout=None, fresh=False):
        """Copies the rectangle at (x, y) of out's size into `out` (an (h, w, 4) uint8 array,
        or a writable buffer of w * h * 4 bytes with size=(w, h)); allocates nothing.
        `fresh` as for grab."""
        mark = self._mark(fresh)
        address, w, h, keep = target(out, size)
        x, y = checked_int(x, *I32, "x"), checked_int(y, *I32, "y")
        timeout, fresh = checked_seconds(timeout, "timeout", none=True), checked_fresh(fresh)
        self._crop(address, x, y, w, h, self._budget(timeout), fresh_since(mark, fresh))
        del keep
        return out

    def _grab_since(self, out, x, y, since):
        """Fills Pixels `out` with the rectangle at (x, y) of its size from a frame that shows
        the display from `since` (a zorsck_now reading taken by the caller; None: the latest
        frame) on, within the Screen's timeout."""
        address, w, h, keep = target(out)
        self._crop(address, x, y, w, h, self._budget(None), since)
        del keep
        return out

    def grab_many(self, rects, timeout=None, attempts=8, fresh=False):
        """Arrays of several (x, y, w, h) rectangles, all cut from the very same frame; `fresh`
        as for grab. The timeout bounds all of the call's waits."""
        mark = self._mark(fresh)
        try:
            rects = [tuple(r) for r in rects]
        except TypeError:
            raise TypeError("rects must be a list of (x, y, w, h) rectangles") from None
        if any(len(r) != 4 for r in rects):
            raise TypeError("each of rects must be (x, y, w, h)")
        rects = [checked_rect(*r) for r in rects]
        timeout, attempts = checked_seconds(timeout, "timeout", none=True), checked_int(attempts, 1, 1000, "attempts")
        since, budget = fresh_since(mark, checked_fresh(fresh)), self._budget(timeout)
        widened = False
        for _ in range(attempts):
            outs = [_np.empty((h, w, 4), _np.uint8) if _np is not None else Pixels.blank(w, h)
                    for _, _, w, h in rects]
            if not outs:
                return outs
            seq = self._crop(target(outs[0])[0], *rects[0], budget, since)
            ts, _, *results = self._outs()
            for out, (x, y, w, h) in zip(outs[1:], rects[1:]):
                status = self._lib.zor_sck_crop_seq(self.display, seq, x, y, w, h, target(out)[0],
                                                    *results)
                if status == FRAME_GONE:
                    break
                if status == NOT_SERVABLE and not widened:
                    # In region mode the stream shows only what crops asked for: a plain crop
                    # of each rectangle widens it (or says the rectangle is not servable). All
                    # join the region before any is waited for, so one widening takes them in.
                    for other, rect in zip(outs, rects):
                        self._lib.zor_sck_crop(self.display, *rect, target(other)[0], *results)
                    for other, rect in zip(outs, rects):
                        self._crop(target(other)[0], *rect, budget)
                    widened = True
                    break
                if status == NOT_SERVABLE:
                    raise NotServable(self._refusal(x, y, w, h))
                if status != OK:
                    raise CaptureUnavailable(_lib.unavailable(self._lib)) if status == ERROR else \
                        ZorsckError(f"zor_sck_crop_seq answered {status}")
            else:
                self._last = (seq, ts.value)
                return outs
        raise FrameGone(f"the frame was replaced {attempts} times while the rectangles were cut")

    @property
    def timestamp(self):
        """When the last grab's frame was presented (aware, UTC); None before the first grab."""
        seq, ms = self._last
        if seq == 0:
            return None
        return datetime.datetime.fromtimestamp(ms / 1000, datetime.timezone.utc)

    def changed(self):
        """True when a newer frame than the last grab's has arrived."""
        return self._lib.zor_sck_seq() != self.seq

    def stop(self):
        """Stops the capture stream now, whatever other Screens are open; the next grab starts a new one."""
        self._lib.zor_sck_stop()
