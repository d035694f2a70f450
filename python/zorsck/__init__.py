"""zorsck: fast, repeated grabs of screen rectangles as numpy arrays.

    import zorsck
    with zorsck.Screen() as screen:
        pixels = screen.grab(100, 100, 320, 200)   # (200, 320, 4) uint8, BGRA

`from zorsck import mss` gives a drop-in for the python-mss interface; `zorsck` (or
`python -m zorsck`) is the command-line tool. The names below are loaded at their first
use, so that the command line starts (and takes a Ctrl-C) before numpy is loaded.
"""
import importlib

from . import _version

__version__ = _version.version()
_HOMES = {"Screen": "screen", "Pixels": "screen", "stop": "screen", "Display": "layout", "displays": "layout",
          "ZorsckError": "errors", "CaptureUnavailable": "errors", "NotServable": "errors",
          "UnknownDisplay": "errors", "FirstFrameTimeout": "errors", "FrameGone": "errors",
          "LibraryNotFound": "errors"}
__all__ = list(_HOMES)


def __getattr__(name):
    """Loads the module of a public name at its first use."""
    if name not in _HOMES:
        raise AttributeError(f"module 'zorsck' has no attribute {name!r}")
    return getattr(importlib.import_module(f".{_HOMES[name]}", __name__), name)
