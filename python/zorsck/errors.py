"""The exceptions of zorsck: every one is a ZorsckError."""


class ZorsckError(Exception):
    """Base of every error this package raises."""


class LibraryNotFound(ZorsckError, OSError):
    """libzorsck could not be found or loaded."""


class CaptureUnavailable(ZorsckError):
    """The library answered -1: no screen capture here (no X display with MIT-SHM, a
    desktop library that cannot be loaded, macOS older than 12.3) or the frame's
    memory could not be read."""


class NotServable(ZorsckError, ValueError):
    """The rectangle lies (partly) outside the display's frame, names another
    display, or is too large for region mode."""


class FirstFrameTimeout(ZorsckError, TimeoutError):
    """No frame arrived within the timeout while the stream was starting."""


class FrameGone(ZorsckError):
    """The frame kept being replaced while rectangles of one frame were cut."""
