"""ScreenShot: the pixels of one grab, BGRA, rows top to bottom."""
import collections

from .exception import ScreenShotError

Pos = collections.namedtuple("Pos", "left top")
Size = collections.namedtuple("Size", "width height")


class ScreenShot:
    """The BGRA pixels of a rectangle at `pos` of `size`; numpy.array(shot) is (h, w, 4) uint8."""

    def __init__(self, data, monitor, size=None):
        self.raw = data if isinstance(data, bytearray) else bytearray(data)
        self.pos = Pos(monitor["left"], monitor["top"])
        self.size = Size(*size) if size is not None else Size(monitor["width"], monitor["height"])
        self._rgb = None

    def __repr__(self):
        return f"<{type(self).__name__} pos={self.left},{self.top} size={self.width}x{self.height}>"

    @classmethod
    def from_size(cls, data, width, height):
        """A ScreenShot of raw BGRA `data` at (0, 0)."""
        return cls(data, {"left": 0, "top": 0, "width": width, "height": height})

    @property
    def __array_interface__(self):
        return {"version": 3, "shape": (self.height, self.width, 4), "typestr": "|u1", "data": self.raw}

    left = property(lambda self: self.pos.left)
    top = property(lambda self: self.pos.top)
    width = property(lambda self: self.size.width)
    height = property(lambda self: self.size.height)

    @property
    def bgra(self):
        """The pixels as BGRA bytes."""
        return bytes(self.raw)

    @property
    def rgb(self):
        """The pixels as RGB bytes."""
        if self._rgb is None:
            rgb = bytearray(self.width * self.height * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = self.raw[2::4], self.raw[1::4], self.raw[0::4]
            self._rgb = bytes(rgb)
        return self._rgb

    @property
    def pixels(self):
        """Rows of (r, g, b) tuples."""
        rgb = self.rgb
        flat = list(zip(rgb[0::3], rgb[1::3], rgb[2::3]))
        return [flat[y * self.width:(y + 1) * self.width] for y in range(self.height)]

    def pixel(self, coord_x, coord_y):
        """The (r, g, b) of one pixel; ScreenShotError outside the shot."""
        if not (0 <= coord_x < self.width and 0 <= coord_y < self.height):
            raise ScreenShotError(f"pixel ({coord_x}, {coord_y}) is outside the {self.width}x{self.height} shot")
        i = (coord_y * self.width + coord_x) * 4
        return self.raw[i + 2], self.raw[i + 1], self.raw[i]
