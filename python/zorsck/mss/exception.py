"""The one exception of the mss-compatible interface."""


class ScreenShotError(Exception):
    """A grab failed; `details` says more (the underlying zorsck error, if any)."""

    def __init__(self, message, details=None):
        super().__init__(message)
        self.details = details or {}
