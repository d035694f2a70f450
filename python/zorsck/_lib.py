"""Finds libzorsck, declares the prototypes of its functions and says why capture is unavailable."""
import ctypes
import ctypes.util
import os
import sys
import sysconfig
import threading

from .errors import LibraryNotFound

_lock = threading.Lock()
_lib = None  # guarded by _lock once set; read freely afterwards
# $DISPLAY when a call of this package into the library first worked: the X server that an X11
# library keeps for the life of the process (None until then). Guarded by _lock once set.
x_server = None
# The process that first called into the library: a child forked from it finds the library's
# threads missing, and every call there answers -1. Set once.
used_by = None
# Region mode (ZOR_SCK_REGION is "1") as read at this package's first crop, when the library reads
# it too; None before that crop. Set once.
region = None
# The library that a missing desktop library's soname comes in: (Debian and Ubuntu, Fedora).
PACKAGES = {"libxcb.so.1": ("libxcb1", "libxcb"), "libxcb-shm.so.0": ("libxcb-shm0", "libxcb"),
            "libxcb-randr.so.0": ("libxcb-randr0", "libxcb"), "libxcb-damage.so.0": ("libxcb-damage0", "libxcb"),
            "libpipewire-0.3.so.0": ("libpipewire-0.3-0", "pipewire-libs"),
            "libsystemd.so.0": ("libsystemd0", "systemd-libs")}


# What the package calls: the five functions of zorsck.h and the extensions of zorsck_ext.h.
SYMBOLS = ("zor_sck_ensure", "zor_sck_crop", "zor_sck_crop_seq", "zor_sck_seq", "zor_sck_stop",
           "zorsck_displays", "zorsck_backend", "zorsck_last_message", "zorsck_now", "zorsck_crop_since")


class CDisplay(ctypes.Structure):
    """zorsck_display of zorsck_ext.h."""
    _fields_ = [("id", ctypes.c_uint32), ("flags", ctypes.c_uint32), ("x", ctypes.c_int32),
                ("y", ctypes.c_int32), ("width", ctypes.c_uint32), ("height", ctypes.c_uint32),
                ("scale", ctypes.c_double)]


def library_name(sim=False):
    """The library's base name here: zorsck(-sim) on Windows, libzorsck(-sim) elsewhere."""
    return ("" if sys.platform == "win32" else "lib") + ("zorsck-sim" if sim else "zorsck")


def candidates():
    """Paths to try in order: $ZORSCK_LIBRARY alone when set (the name "sim": the simulated
    library, found as below), else the package's own copy, then the installed prefixes (on
    Windows: the package's zorsck.dll, then the DLL search path)."""
    chosen = os.environ.get("ZORSCK_LIBRARY")
    if chosen and chosen != "sim":
        return [chosen]
    base = library_name(sim=bool(chosen))
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.platform == "win32":
        found = ctypes.util.find_library(base)
        paths = [os.path.join(here, base + ".dll")]
        return [p for p in paths if os.path.exists(p)] + ([found] if found else [])
    names = [base + ".dylib"] if sys.platform == "darwin" else [base + ".so.0", base + ".so"]
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    dirs = [here]
    for prefix in dict.fromkeys((sys.prefix, sys.base_prefix, "/usr/local", "/usr")):
        dirs.append(os.path.join(prefix, "lib"))
        if multiarch:
            dirs.append(os.path.join(prefix, "lib", multiarch))
    paths = [os.path.join(d, n) for d in dirs for n in names]
    found = ctypes.util.find_library(base[3:])
    return [p for p in paths if os.path.exists(p)] + ([found] if found else [])


def _declare(lib):
    """Sets argtypes / restype of the five exported functions and the extensions; returns `lib`.
    Raises AttributeError naming the functions a library older than this package lacks."""
    missing = [name for name in SYMBOLS if not hasattr(lib, name)]
    if missing:
        raise AttributeError(f"lacks {', '.join(missing)}: it is older than this package")
    u32, i32, u64, p64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64, ctypes.POINTER(ctypes.c_uint64)
    lib.zor_sck_ensure.argtypes, lib.zor_sck_ensure.restype = [u32, i32], i32
    lib.zor_sck_crop.argtypes = [u32, i32, i32, u32, u32, ctypes.c_void_p, p64, p64]
    lib.zor_sck_crop.restype = i32
    lib.zor_sck_crop_seq.argtypes = [u32, u64, i32, i32, u32, u32, ctypes.c_void_p, p64, p64]
    lib.zor_sck_crop_seq.restype = i32
    lib.zor_sck_seq.argtypes, lib.zor_sck_seq.restype = [], u64
    lib.zor_sck_stop.argtypes, lib.zor_sck_stop.restype = [], None
    lib.zorsck_displays.argtypes = [ctypes.POINTER(CDisplay), u32, ctypes.POINTER(u32)]
    lib.zorsck_displays.restype = i32
    lib.zorsck_backend.argtypes, lib.zorsck_backend.restype = [], ctypes.c_char_p
    lib.zorsck_last_message.argtypes, lib.zorsck_last_message.restype = [ctypes.c_char_p, u32], u32
    lib.zorsck_now.argtypes, lib.zorsck_now.restype = [], u64
    lib.zorsck_crop_since.argtypes = [u32, u64, i32, i32, u32, u32, ctypes.c_void_p, p64, p64, u32]
    lib.zorsck_crop_since.restype = i32
    return lib


def load():
    """The loaded library (loaded once per process); raises LibraryNotFound."""
    global _lib
    if _lib is not None:
        return _lib
    with _lock:
        if _lib is None:
            tried, old = [], False
            for path in candidates():
                try:
                    _lib = _declare(ctypes.CDLL(path))
                    _lib.path = path
                    break
                except OSError as e:
                    tried.append(f"{path}: {e}")
                except AttributeError as e:
                    tried.append(f"{path} {e}")
                    old = True
            else:
                name = library_name(sim=os.environ.get("ZORSCK_LIBRARY") == "sim")
                raise LibraryNotFound((f"no {name} of this package's version found" if old else f"{name} not found")
                                      + "; set ZORSCK_LIBRARY to its path"
                                      + ("; tried " + "; ".join(tried) if tried else ""))
    return _lib


def used():
    """Notes the process that calls into the library, at its first call."""
    global used_by
    if used_by is None:
        used_by = os.getpid()


def cropping():
    """Reads region mode at this package's first crop, as the library reads it at its own; any thread."""
    global region
    if region is None:
        region = os.environ.get("ZOR_SCK_REGION") == "1"


def region_mode():
    """True in region mode: as read at the first crop, or as the environment says before one."""
    return region if region is not None else os.environ.get("ZOR_SCK_REGION") == "1"


def worked():
    """Notes that a call into the library worked: the first such call names the X server
    that an X11 library keeps (it connects to $DISPLAY at its first call, once, and keeps
    that server whatever $DISPLAY says later)."""
    global x_server
    if x_server is None:
        with _lock:
            if x_server is None:
                x_server = os.environ.get("DISPLAY", "")


def use(lib):
    """Replaces the loaded library (a stand-in in tests); returns the previous one."""
    global _lib, x_server
    with _lock:
        previous, _lib, x_server = _lib, lib, None
    return previous


def backend(lib):
    """The backend the library uses: "x11", "wayland", "macos", "windows", "sim"; "" before it chose."""
    return lib.zorsck_backend().decode()


def last_message(lib):
    """The library's latest line on standard error, without its tag; "" when it wrote none."""
    out = ctypes.create_string_buffer(512)
    length = lib.zorsck_last_message(out, len(out))
    if length >= len(out):
        out = ctypes.create_string_buffer(length + 1)
        lib.zorsck_last_message(out, len(out))
    return out.value.decode(errors="replace")


def unavailable(lib):
    """Why the library answered -1 here: a fork, or this platform's cause with the library's reason."""
    if used_by is not None and used_by != os.getpid():
        return (f"no screen capture in this process: it was forked from process {used_by} after that one "
                f"used the library, and the library's threads stay in the parent. Start children with "
                f"multiprocessing's 'spawn' or 'forkserver' method (multiprocessing.get_context('spawn')), "
                f"or use zorsck only after the fork")
    said = last_message(lib)
    if sys.platform == "darwin":
        cause = ("screen recording is not allowed for this program (System Settings, Privacy & Security, "
                 "Screen Recording), or macOS is older than 12.3")
    elif sys.platform == "win32":
        cause = "the desktop cannot be duplicated here (a service, a locked or disconnected session)"
    elif not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY"):
        return ("no screen capture here: neither DISPLAY nor WAYLAND_DISPLAY is set: run it in a desktop "
                "session or on an X server")
    else:
        missing = [name for name in PACKAGES if name + " cannot be" in said]
        cause = (f"{missing[0]} cannot be loaded: install {PACKAGES[missing[0]][0]} (Debian, Ubuntu) or "
                 f"{PACKAGES[missing[0]][1]} (Fedora)" if missing else
                 "no X display with MIT-SHM, or on Wayland a screen cast refused or failing")
    return f"no screen capture here: {cause}" + (f" (the library says: {said})" if said else "")
