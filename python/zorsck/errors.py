"""The exceptions of zorsck: every one is a ZorsckError."""


class ZorsckError(Exception):
    """Base of every error this package raises."""


class LibraryNotFound(ZorsckError, OSError):
    """libzorsck could not be found or loaded."""


class CaptureUnavailable(ZorsckError):
    """The library answered -1: no screen capture here (the message names the cause on this
    platform: a fork, a missing desktop library and its package, no display session)."""


class NotServable(ZorsckError, ValueError):
    """The rectangle lies (partly) outside the display, or in region mode is larger than 0.6 of it."""


class UnknownDisplay(ZorsckError, ValueError):
    """The library lists no display of that id."""


class FirstFrameTimeout(ZorsckError, TimeoutError):
    """No frame (or list of displays) came within the timeout while the stream was starting."""


class FrameGone(ZorsckError):
    """The frame kept being replaced while rectangles of one frame were cut."""
