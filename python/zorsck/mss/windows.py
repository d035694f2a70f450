"""`from zorsck.mss.windows import MSS`, as on the platform modules of the original interface."""
from .base import MSS  # noqa: F401
