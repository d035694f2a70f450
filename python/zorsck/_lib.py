"""Finds libzorsck and declares the prototypes of its five functions."""
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


def candidates():
    """Paths to try in order: $ZORSCK_LIBRARY alone when set (the name "sim": the simulated
    library, found as below), else the package's own copy, then the installed prefixes."""
    chosen = os.environ.get("ZORSCK_LIBRARY")
    if chosen and chosen != "sim":
        return [chosen]
    base = "libzorsck-sim" if chosen else "libzorsck"
    names = [base + ".dylib"] if sys.platform == "darwin" else [base + ".so.0", base + ".so"]
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    dirs = [os.path.dirname(os.path.abspath(__file__))]
    for prefix in dict.fromkeys((sys.prefix, sys.base_prefix, "/usr/local", "/usr")):
        dirs.append(os.path.join(prefix, "lib"))
        if multiarch:
            dirs.append(os.path.join(prefix, "lib", multiarch))
    paths = [os.path.join(d, n) for d in dirs for n in names]
    found = ctypes.util.find_library(base[3:])
    return [p for p in paths if os.path.exists(p)] + ([found] if found else [])


def _declare(lib):
    """Sets argtypes / restype of the five exported functions; returns `lib`."""
    u32, i32, u64, p64 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64, ctypes.POINTER(ctypes.c_uint64)
    lib.zor_sck_ensure.argtypes, lib.zor_sck_ensure.restype = [u32, i32], i32
    lib.zor_sck_crop.argtypes = [u32, i32, i32, u32, u32, ctypes.c_void_p, p64, p64]
    lib.zor_sck_crop.restype = i32
    lib.zor_sck_crop_seq.argtypes = [u32, u64, i32, i32, u32, u32, ctypes.c_void_p, p64, p64]
    lib.zor_sck_crop_seq.restype = i32
    lib.zor_sck_seq.argtypes, lib.zor_sck_seq.restype = [], u64
    lib.zor_sck_stop.argtypes, lib.zor_sck_stop.restype = [], None
    return lib


def load():
    """The loaded library (loaded once per process); raises LibraryNotFound."""
    global _lib
    if _lib is not None:
        return _lib
    with _lock:
        if _lib is None:
            tried = []
            for path in candidates():
                try:
                    _lib = _declare(ctypes.CDLL(path))
                    _lib.path = path
                    break
                except (OSError, AttributeError) as e:
                    tried.append(f"{path}: {e}")
            else:
                name = "libzorsck-sim" if os.environ.get("ZORSCK_LIBRARY") == "sim" else "libzorsck"
                raise LibraryNotFound(f"{name} not found; set ZORSCK_LIBRARY to its path"
                                      + ("; tried " + "; ".join(tried) if tried else ""))
    return _lib


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
