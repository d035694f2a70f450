"""MSS: the python-mss interface over zorsck.

The monitors are the displays of the X screen the library captures (RandR monitors, in
root-window coordinates, the primary first), or the one display the library
serves where no layout can be read (see zorsck.displays); monitors[0] is the
whole X screen (its root window). A grab inside a monitor is one crop of that
monitor's stream (the first listed that holds it); any other rectangle of the
X screen is put together from each monitor it meets, with opaque black where
no monitor lies (nothing is shown there); one that reaches past the X screen
raises ScreenShotError. Under Wayland the places of the displays are unknown:
monitors[0] is the main display (display 0) and monitors 1, 2, ... are the
displays 1, 2, ... (the main one among them), set side by side from the left in
that order, display 0 first, as a row of their own coordinates; a rectangle
that no one monitor holds raises ScreenShotError. Grabs wait briefly for a
frame newer than the call (`fresh`), as programs that draw and then grab expect.
close() leaves the stream running: it stops by itself 5 s after the last grab,
so code that opens a new MSS per shot does not restart it every time.
`display=` names the X server at the first capture of the process only: the
library keeps that server, and an MSS naming another one later raises
ScreenShotError.
"""
import datetime
import os

from .. import layout
from ..errors import ZorsckError
from ..screen import Pixels, Screen
from .exception import ScreenShotError
from .screenshot import ScreenShot
from .tools import to_png


class MSS:
    """Grabs screen rectangles; a context manager."""

    cls_image = ScreenShot  # the class of what grab() returns: cls_image(data, monitor)
    fresh = True  # False: a grab may return the held frame, which can predate the call

    def __init__(self, *, compression_level=6, display=None, with_cursor=False, max_displays=32, **_):
        self.compression_level = compression_level  # zlib level of saved PNGs
        self.with_cursor = with_cursor  # accepted; the cursor is never drawn
        if display:  # read by the library at its first call; it keeps that server
            name = display.decode() if isinstance(display, bytes) else display
            kept = layout.kept_x_server()
            if kept is not None and not layout.same_x_server(name, kept):
                raise ScreenShotError(f"display={name!r} names another X server than {kept!r}, the one "
                                      f"this process captures: the library keeps the server of its first "
                                      f"capture for the life of the process", {"display": kept})
            os.environ["DISPLAY"] = name
        self._root, self._layout = None, None  # the X screen and the displays behind `monitors`
        self._main = None  # monitors[0] when it is not the whole screen: Wayland's main display
        self._last = None  # the display id of the last grab (None: none since the listing)
        self._screens = {}  # display id -> Screen

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Lets go of this object's screens (the stream's idle stop ends it)."""
        self._screens.clear()

    def _screen(self, ident):
        """The Screen of a display id, made on first use. Display 0 names whichever display
        the stream shows: after a grab of another one, its stream is stopped first."""
        if ident not in self._screens:
            self._screens[ident] = Screen(ident)
        if self._main and ident == 0 and self._last not in (None, 0):
            self._screens[ident].stop()
        self._last = ident
        return self._screens[ident]

    def _displays(self):
        """The displays of the monitors list; ScreenShotError when there are none."""
        if self._layout is None:
            try:
                root, found = layout.desktop()
            except ZorsckError as e:
                raise ScreenShotError(f"cannot list the monitors: {e}", {"error": e}) from e
            if any(d.x is None for d in found):  # Wayland: a row of the displays, main first
                found = [d._replace(x=sum(e.width for e in found[:i]), y=0) for i, d in enumerate(found)]
                self._main = found[0]
                root = root._replace(width=sum(d.width for d in found), height=max(d.height for d in found))
            self._root, self._layout = root, [d for d in found if root and d.screen == root.screen]
        if not self._layout:
            raise ScreenShotError("no monitor found")
        return self._layout

    @property
    def monitors(self):
        """[the whole X screen (Wayland: the main display), monitor 1, monitor 2, ...] as dicts of
        left, top, width, height."""
        displays = self._displays()
        shown = [self._main or self._root] + displays[1 if self._main else 0:]
        return [{"left": d.x, "top": d.y, "width": d.width, "height": d.height} for d in shown]

    def grab(self, monitor):
        """A cls_image of a dict (left, top, width, height) or a (left, top, right, bottom) tuple."""
        if isinstance(monitor, tuple):
            left, top, right, bottom = monitor
            monitor = {"left": left, "top": top, "width": right - left, "height": bottom - top}
        left, top, width, height = (monitor[k] for k in ("left", "top", "width", "height"))
        if width <= 0 or height <= 0:
            raise ScreenShotError(f"empty region {width}x{height}")
        displays, root = self._displays(), self._root
        if left < root.x or top < root.y or left + width > root.x + root.width \
                or top + height > root.y + root.height:
            raise ScreenShotError(f"{width}x{height} at ({left}, {top}) reaches past the "
                                  f"{root.width}x{root.height} screen")
        parts = []
        for d in displays:
            x0, y0 = max(left, d.x), max(top, d.y)
            x1, y1 = min(left + width, d.x + d.width), min(top + height, d.y + d.height)
            if x0 < x1 and y0 < y1:
                parts.append((d, x0, y0, x1 - x0, y1 - y0))
        try:
            whole = [p for p in parts if p[3:] == (width, height)]  # monitors holding all of it
            if whole:
                d = whole[0][0]
                data = Pixels.blank(width, height)
                self._screen(d.id).grab_into(data, left - d.x, top - d.y, fresh=self.fresh)
            elif self._main:
                raise ScreenShotError(f"{width}x{height} at ({left}, {top}) is not on one monitor: "
                                      f"under Wayland their places are unknown")
            else:
                data = self._compose(parts, left, top, width, height)
        except ZorsckError as e:
            raise ScreenShotError(str(e), {"error": e}) from e
        return self.cls_image(data, {"left": left, "top": top, "width": width, "height": height})

    def _compose(self, parts, left, top, width, height):
        """A width x height BGRA image from the parts of each monitor, black between them."""
        data = bytearray(b"\0\0\0\xff") * (width * height)
        for d, x, y, w, h in parts:
            part = Pixels.blank(w, h)
            self._screen(d.id).grab_into(part, x - d.x, y - d.y, fresh=self.fresh)
            for row in range(h):
                start = ((y - top + row) * width + x - left) * 4
                data[start:start + w * 4] = part[row * w * 4:(row + 1) * w * 4]
        return data

    def save(self, mon=0, output="monitor-{mon}.png", callback=None):
        """Grabs and writes PNGs, yielding their names: mon=0 one file per monitor,
        -1 one of all monitors together, N monitor N. `output` may use {mon}, {top},
        {left}, {width}, {height} and {date}; callback(name) runs before each write."""
        monitors = self.monitors
        if mon == 0:
            chosen = list(enumerate(monitors[1:], 1))
        else:
            index = 0 if mon == -1 else mon
            if not 0 <= index < len(monitors):
                raise ScreenShotError(f"monitor {mon} does not exist")
            chosen = [(index, monitors[index])]
        for index, monitor in chosen:
            name = output.format(mon=index, date=datetime.datetime.now(), **monitor)
            if callable(callback):
                callback(name)
            shot = self.grab(monitor)
            to_png(shot.rgb, shot.size, level=self.compression_level, output=name)
            yield name

    def shot(self, **kwargs):
        """Saves monitor 1 (or as save() is told) and returns the file's name."""
        kwargs.setdefault("mon", 1)
        return next(self.save(**kwargs))


MSSBase = MSS
