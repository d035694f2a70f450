"""zorsck: fast, repeated grabs of screen rectangles as numpy arrays.

    import zorsck
    with zorsck.Screen() as screen:
        pixels = screen.grab(100, 100, 320, 200)   # (200, 320, 4) uint8, BGRA

`from zorsck import mss` gives a drop-in for the python-mss interface; `zorsck` (or
`python -m zorsck`) is the command-line tool.
"""
from .layout import Display, displays
from .errors import (CaptureUnavailable, FirstFrameTimeout, FrameGone, LibraryNotFound,
                     NotServable, ZorsckError)
from .screen import Pixels, Screen
from . import _version

__version__ = _version.version()
__all__ = ["Screen", "Pixels", "Display", "displays", "ZorsckError", "CaptureUnavailable",
           "NotServable", "FirstFrameTimeout", "FrameGone", "LibraryNotFound"]
