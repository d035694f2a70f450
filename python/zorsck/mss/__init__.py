"""A drop-in for the python-mss interface: `from zorsck import mss`, then mss.mss()."""
from . import exception, tools
from .base import MSS, MSSBase
from .exception import ScreenShotError
from .screenshot import ScreenShot


def mss(**kwargs):
    """An MSS for this platform."""
    return MSS(**kwargs)


__all__ = ["mss", "MSS", "MSSBase", "ScreenShot", "ScreenShotError", "exception", "tools"]
