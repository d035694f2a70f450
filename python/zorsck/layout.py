"""The layout of the displays the library serves, and their ids.

On X11 the ids are computed exactly as src/platform/x11/x11_monitors.cc does:
(screen << 29) | (monitor name atom & (2**29 - 1)), or (screen << 29) | 1 for a
screen's root window (RandR older than 1.5, no monitors listed, or a name atom
of 0). The two must change together. Elsewhere (the simulated library, Wayland,
no X server) display 0 is the main display, at (0, 0), whose size is found by
cropping single pixels: the library answers "not servable" past the edge. On
Wayland the backend also serves ids 1, 2, ... (one per monitor the portal shares,
in its order; the main display is one of them too), found the same way up to the
first id it refuses; their places on the desktop are unknown (x and y None).
"""
import collections
import ctypes
import ctypes.util
import os
import struct
import sys

Display = collections.namedtuple("Display", "id screen x y width height primary")
SCREEN_SHIFT = 29
ATOM_MASK = (1 << SCREEN_SHIFT) - 1
MAX_PROBED = 16  # Wayland ids 1.. probed at most: each probe starts a stream


class _Iter(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("rem", ctypes.c_int), ("index", ctypes.c_int)]


class _Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]


def _xcb():
    """(libxcb, libxcb-randr, free) with the prototypes used here; OSError when one is missing,
    AttributeError when a library of that name lacks a function."""
    xcb, randr = ctypes.CDLL("libxcb.so.1"), ctypes.CDLL("libxcb-randr.so.0")
    vp = ctypes.c_void_p
    xcb.xcb_connect.argtypes, xcb.xcb_connect.restype = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int)], vp
    xcb.xcb_connection_has_error.argtypes = xcb.xcb_disconnect.argtypes = [vp]
    xcb.xcb_get_setup.argtypes, xcb.xcb_get_setup.restype = [vp], vp
    xcb.xcb_setup_roots_iterator.argtypes, xcb.xcb_setup_roots_iterator.restype = [vp], _Iter
    xcb.xcb_screen_next.argtypes = [ctypes.POINTER(_Iter)]
    xcb.xcb_get_extension_data.argtypes, xcb.xcb_get_extension_data.restype = [vp, vp], vp
    randr.xcb_randr_query_version.argtypes = [vp, ctypes.c_uint32, ctypes.c_uint32]
    randr.xcb_randr_get_monitors.argtypes = [vp, ctypes.c_uint32, ctypes.c_uint8]
    for name in ("xcb_randr_query_version", "xcb_randr_get_monitors"):
        getattr(randr, name).restype = _Cookie
        getattr(randr, name + "_reply").argtypes = [vp, _Cookie, ctypes.POINTER(vp)]
        getattr(randr, name + "_reply").restype = vp
    free = ctypes.CDLL(None).free
    free.argtypes = [vp]
    return xcb, randr, free


def _reply(free, address, size):
    """The first `size` bytes of an xcb reply, then frees it; b"" for none."""
    if not address:
        return b""
    data = ctypes.string_at(address, size)
    free(address)
    return data


def x_server():
    """The X display the library captures: the one it kept once a call worked (see
    _lib.worked), else what $DISPLAY names now; "" when there is none."""
    from . import _lib
    kept = _lib.x_server
    return kept if kept is not None else os.environ.get("DISPLAY", "")


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
    from . import _lib
    kept = _lib.x_server
    return kept if kept is not None and backend_is_x11(getattr(_lib.load(), "path", "")) else None


def x11_layout():
    """(root, displays): the default screen's root window as a Display, and every display
    of the X server the library captures (x_server), the default screen's primary first,
    then the rest of that screen, then the other screens; None without a server."""
    name = x_server()
    if not name:
        return None
    try:
        xcb, randr, free = _xcb()
    except (OSError, AttributeError):  # missing, or another library under the name
        return None
    default = ctypes.c_int(0)
    conn = xcb.xcb_connect(name.encode(), ctypes.byref(default))
    try:
        if not conn or xcb.xcb_connection_has_error(conn):
            return None
        ext = xcb.xcb_get_extension_data(conn, ctypes.addressof(ctypes.c_char.in_dll(randr, "xcb_randr_id")))
        monitors = False
        if ext and ctypes.string_at(ext, 9)[8]:
            err = ctypes.c_void_p()
            version = _reply(free, randr.xcb_randr_query_version_reply(
                conn, randr.xcb_randr_query_version(conn, 1, 5), ctypes.byref(err)), 16)
            free(err)
            monitors = len(version) == 16 and struct.unpack_from("=II", version, 8) >= (1, 5)
        mine, others, whole = [], [], None
        it = xcb.xcb_setup_roots_iterator(xcb.xcb_get_setup(conn))
        index = 0
        while it.rem > 0:
            root, = struct.unpack_from("=I", ctypes.string_at(it.data, 4))
            width, height = struct.unpack_from("=HH", ctypes.string_at(it.data, 24), 20)
            found = _screen_monitors(xcb, randr, free, conn, root, index) if monitors else []
            if found is None:
                return None
            window = Display((index << SCREEN_SHIFT) | 1, index, 0, 0, width, height, True)
            found = found or [window]
            found.sort(key=lambda d: not d.primary)  # stable: the primary leads its screen
            (mine if index == default.value else others).extend(found)
            whole = window if index == default.value else whole
            xcb.xcb_screen_next(ctypes.byref(it))
            index += 1
        return whole, mine + others
    finally:
        if conn:
            xcb.xcb_disconnect(conn)


def _screen_monitors(xcb, randr, free, conn, root, index):
    """The RandR monitors of one screen's root window; None when the server did not answer."""
    err = ctypes.c_void_p()
    address = randr.xcb_randr_get_monitors_reply(conn, randr.xcb_randr_get_monitors(conn, root, 1),
                                                ctypes.byref(err))
    free(err)
    if not address:
        return None
    length, = struct.unpack_from("=I", ctypes.string_at(address, 8), 4)
    data = _reply(free, address, 32 + 4 * length)
    count, = struct.unpack_from("=I", data, 12)
    found, offset = [], 32
    for _ in range(count):
        name, primary, _auto, outputs, x, y, w, h = struct.unpack_from("=IBBHhhHH", data, offset)
        offset += 24 + 4 * outputs
        if w == 0 or h == 0:
            continue
        ident = (index << SCREEN_SHIFT) | (name & ATOM_MASK) if name & ATOM_MASK else (index << SCREEN_SHIFT) | 1
        found.append(Display(ident, index, x, y, w, h, bool(primary)))
    return found


def probed_display(screen):
    """The display that `screen` serves, its size found by cropping single pixels until the
    library answers that they lie outside; None when it serves none. Display 0 is the main
    one, at the desktop's origin; another id's place is unknown (x and y None)."""
    from .errors import NotServable
    from .screen import Pixels, target
    pixel = Pixels.blank(1, 1)
    address = target(pixel)[0]

    def inside(x, y):
        try:
            screen._crop(address, x, y, 1, 1, None)
            return True
        except NotServable:
            return False

    def extent(along_x):
        low, high = 0, 1  # inside(low); find the first outside
        while inside(high, 0) if along_x else inside(0, high):
            low, high = high, min(high * 2, 1 << 31)
            if low == high:
                return low + 1
        while high - low > 1:
            mid = (low + high) // 2
            low, high = (mid, high) if (inside(mid, 0) if along_x else inside(0, mid)) else (low, mid)
        return high

    if not inside(0, 0):
        return None
    main = screen.display == 0
    place = 0 if main else None
    return Display(screen.display, 0, place, place, extent(True), extent(False), main)


def wayland_displays():
    """Displays 1, 2, ... of the Wayland backend, up to the first id it does not serve (or
    whose stream sends no first frame in time). Each probe switches the one stream; at the
    end it is stopped, so that display 0 names the main display again."""
    from . import _lib
    from .errors import FirstFrameTimeout
    from .screen import Screen
    found = []
    try:
        for ident in range(1, MAX_PROBED + 1):
            try:
                probed = probed_display(Screen(ident))
            except FirstFrameTimeout:
                probed = None
            if probed is None:
                break
            found.append(probed)
    finally:
        _lib.load().zor_sck_stop()
    return found


def backend_is_x11(path):
    """Whether the library at `path` reads X11 (not the simulated display, not Wayland, not
    macOS, where an XQuartz server may set DISPLAY)."""
    if "zorsck-sim" in os.path.basename(path or "") or sys.platform == "darwin":
        return False
    chosen = os.environ.get("ZOR_SCK_BACKEND", "")
    if chosen:
        return chosen == "x11"
    return not os.environ.get("WAYLAND_DISPLAY")


def backend_is_wayland(path):
    """Whether the library at `path` reads a Wayland desktop through its portal (as the library
    chooses, but without asking the session bus whether the portal answers)."""
    if "zorsck-sim" in os.path.basename(path or "") or sys.platform == "darwin" or backend_is_x11(path):
        return False
    return os.environ.get("ZOR_SCK_BACKEND", "") in ("", "wayland")


def displays(screen=None):
    """The displays the loaded library serves (see the module's text)."""
    return desktop(screen)[1]


def desktop(screen=None):
    """(root, displays): the whole X screen of x_server() as a Display (its root window) and
    the displays the loaded library serves; without X the main display is the root too
    (None when there is none)."""
    from . import _lib
    from .screen import Screen
    path = getattr(_lib.load(), "path", "")
    if backend_is_x11(path):
        found = x11_layout()
        if found and found[1]:
            return found
    main = probed_display(screen or Screen(0))
    if main is None:
        return None, []
    return main, [main] + (wayland_displays() if backend_is_wayland(path) else [])


def display(ident):
    """The Display that `ident` names (0: the main one), or None; without X only that id is
    probed, so that naming one display does not switch the stream through all of them."""
    from . import _lib
    from .screen import Screen
    path = getattr(_lib.load(), "path", "")
    if not backend_is_x11(path) and (ident == 0 or backend_is_wayland(path)):
        return probed_display(Screen(ident))
    found = displays()
    return next((d for i, d in enumerate(found) if d.id == ident or (ident == 0 and i == 0)), None)
