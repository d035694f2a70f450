"""A drop-in for the python-mss interface: `from zorsck import mss`, then mss.mss()."""
from .._version import version as _version
from . import exception, tools
from .base import MSS, MSSBase
from .exception import ScreenShotError
from .screenshot import ScreenShot

__version__ = _version()


def mss(**kwargs):
    """An MSS for this platform."""
    return MSS(**kwargs)


__all__ = ["__version__", "mss", "MSS", "MSSBase", "ScreenShot", "ScreenShotError", "exception", "tools"]
