"""The displays the library serves, as it lists them (zorsck_displays), and the X server it keeps."""
import collections
import ctypes
import time

from . import _lib
from .errors import CaptureUnavailable, FirstFrameTimeout, ZorsckError

# x and y are None where the system does not give the display's place (a Wayland portal may not);
# primary: the main display, the one that id 0 names while no stream runs.
Display = collections.namedtuple("Display", "id x y width height scale primary")
MAIN, PLACED = 1, 2  # ZORSCK_DISPLAY_* flags


def displays(timeout=5.0):
    """The displays the library serves, the main one first; asks again while it lists them, for
    up to `timeout` seconds. Starts no stream. Any thread."""
    from .screen import checked_seconds
    timeout = checked_seconds(timeout, "timeout")
    lib = _lib.load()
    _lib.used()
    deadline, pause, capacity = time.monotonic() + timeout, 0.0005, 8
    count = ctypes.c_uint32()
    while True:
        found = (_lib.CDisplay * capacity)()
        status = lib.zorsck_displays(found, capacity, ctypes.pointer(count))
        if status == 0 and count.value > capacity:
            capacity = count.value  # more displays than room: ask again with room for all
            continue
        if status == 0:
            break
        if status == -1:
            raise CaptureUnavailable(_lib.unavailable(lib))
        if status != 1:
            raise ZorsckError(f"zorsck_displays answered {status}")
        left = deadline - time.monotonic()
        if left <= 0:
            raise FirstFrameTimeout(f"the library did not list its displays within {timeout} s")
        time.sleep(min(pause, left))
        pause = min(pause * 2, 0.01)
    _lib.worked()
    return [Display(d.id, d.x if d.flags & PLACED else None, d.y if d.flags & PLACED else None,
                    d.width, d.height, d.scale, bool(d.flags & MAIN)) for d in found[:count.value]]


def named(found, ident):
    """The Display of `found` that `ident` names (0: the main one), or None when there is none such."""
    return next((d for d in found if d.id == ident or (ident == 0 and d.primary)),
                found[0] if ident == 0 and found else None)


def display(ident, timeout=5.0):
    """The Display that `ident` names (0: the main one), or None when the library lists none such."""
    return named(displays(timeout), ident)


def same_x_server(a, b):
    """True when two display names ([host]:N[.S]) name the same server and screen: ":1",
    ":1.0", "unix:1" and ":01" are one; a host other than the local socket is compared as written."""
    def parts(name):
        host, _, rest = name.rpartition(":")
        number, _, screen = rest.partition(".")
        return "" if host in ("", "unix") else host, number.lstrip("0") or "0", screen or "0"
    return parts(a) == parts(b)


def kept_x_server():
    """The X display that the loaded X11 library keeps for this process, or None while
    it may still take whichever $DISPLAY names (no call has worked yet, or not X11)."""
    kept = _lib.x_server
    return kept if kept is not None and _lib.backend(_lib.load()) == "x11" else None
