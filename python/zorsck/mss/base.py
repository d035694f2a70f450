"""MSS: the python-mss interface over zorsck.

The monitors are the displays the library lists (zorsck.displays), the main one first, at
their places on the desktop (on X11 those of DISPLAY's X screen alone, as in python-mss);
monitors[0] is the rectangle around all of them. Where the system gives no places (a
Wayland portal may not), they are set side by side from the left in that order. A grab
inside a monitor is one crop of that monitor's stream (the first listed that holds it);
any other rectangle is put together from each monitor it meets, with opaque black where no
monitor lies; one that reaches past monitors[0] raises ScreenShotError. Grabs show the screen
as it was at the call or later (`fresh`, as Screen.grab takes it), as programs that draw and
then grab expect.
close() leaves the stream running: it stops by itself 5 s after the last grab, so code
that opens a new MSS per shot does not restart it every time.
`display=` names the X server at the first capture of the process only: the library keeps
that server, and an MSS naming another one later raises ScreenShotError.
"""
import datetime
import os

from .. import _lib, layout
from ..errors import ZorsckError
from ..screen import Pixels, Screen, checked_fresh, checked_int, fresh_since
from .exception import ScreenShotError
from .screenshot import ScreenShot
from .tools import to_png


class MSS:
    """Grabs screen rectangles; a context manager."""

    cls_image = ScreenShot  # the class of what grab() returns: cls_image(data, monitor)
    fresh = True  # False: the held frame, which can predate the call; or seconds, as for Screen.grab

    def __init__(self, *, compression_level=6, display=None, with_cursor=False, max_displays=32, **_):
        self.compression_level = checked_int(compression_level, 0, 9, "compression_level")  # of saved PNGs
        self.with_cursor = with_cursor  # accepted; the cursor is never drawn
        if display is not None and not isinstance(display, (str, bytes)):
            raise TypeError(f"display must be an X display name such as ':0', not {type(display).__name__}")
        if display:  # read by the library at its first call; it keeps that server
            name = display.decode() if isinstance(display, bytes) else display
            kept = layout.kept_x_server()
            if kept is not None and not layout.same_x_server(name, kept):
                raise ScreenShotError(f"display={name!r} names another X server than {kept!r}, the one "
                                      f"this process captures: the library keeps the server of its first "
                                      f"capture for the life of the process", {"display": kept})
            os.environ["DISPLAY"] = name
        self._layout = None  # the displays behind `monitors`, placed
        self._screens = {}  # display id -> Screen

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Lets go of this object's screens, leaving the stream to its idle stop."""
        for screen in self._screens.values():
            screen._release()
        self._screens.clear()

    def _screen(self, ident):
        """The Screen of a display id, made on first use."""
        if ident not in self._screens:
            self._screens[ident] = Screen(ident)
        return self._screens[ident]

    def _displays(self):
        """The displays of the monitors list, each placed; ScreenShotError when there are none."""
        if self._layout is None:
            try:
                found = layout.displays()
            except ZorsckError as e:
                raise ScreenShotError(f"cannot list the monitors: {e}", {"error": e}) from e
            main = next((d for d in found if d.primary), None)
            if main is not None and _lib.backend(_lib.load()) == "x11":
                # As python-mss, the monitors of DISPLAY's X screen alone (the main one's): those
                # of other screens have places on their own screen. An X11 id is (screen << 29) | atom.
                found = [d for d in found if d.id >> 29 == main.id >> 29]
            if any(d.x is None for d in found):  # places unknown: a row of them, the main one first
                found = [d._replace(x=sum(e.width for e in found[:i]), y=0) for i, d in enumerate(found)]
            self._layout = found
        if not self._layout:
            raise ScreenShotError("no monitor found")
        return self._layout

    def _bounds(self):
        """(left, top, right, bottom) around every monitor."""
        displays = self._displays()
        return (min(d.x for d in displays), min(d.y for d in displays),
                max(d.x + d.width for d in displays), max(d.y + d.height for d in displays))

    @property
    def monitors(self):
        """[all monitors together, monitor 1, monitor 2, ...] as dicts of left, top, width, height."""
        left, top, right, bottom = self._bounds()
        return [{"left": left, "top": top, "width": right - left, "height": bottom - top}] + [
            {"left": d.x, "top": d.y, "width": d.width, "height": d.height} for d in self._displays()]

    def _since(self):
        """What a grab's frames must show the display from, read at its start: a zorsck_now
        reading (or before it, by `fresh` seconds), None when any frame will do."""
        fresh = checked_fresh(self.fresh)
        if fresh is False:
            return None
        try:
            return fresh_since(_lib.load().zorsck_now(), fresh)
        except ZorsckError as e:
            raise ScreenShotError(str(e), {"error": e}) from e

    def grab(self, monitor):
        """A cls_image of a dict (left, top, width, height) or a (left, top, right, bottom) tuple."""
        since = self._since()
        if isinstance(monitor, tuple) and len(monitor) == 4:
            left, top, right, bottom = monitor
            monitor = {"left": left, "top": top, "width": right - left, "height": bottom - top}
        if not isinstance(monitor, dict):
            raise TypeError(f"monitor must be a dict of left, top, width, height or a (left, top, right, "
                            f"bottom) tuple, not {monitor!r}")
        try:
            left, top, width, height = (checked_int(monitor[k], -(1 << 31), (1 << 31) - 1, k)
                                        for k in ("left", "top", "width", "height"))
        except KeyError as e:
            raise TypeError(f"monitor lacks {e}") from None
        if width <= 0 or height <= 0:
            raise ScreenShotError(f"empty region {width}x{height}")
        displays, bounds = self._displays(), self._bounds()
        if left < bounds[0] or top < bounds[1] or left + width > bounds[2] or top + height > bounds[3]:
            raise ScreenShotError(f"{width}x{height} at ({left}, {top}) reaches past the "
                                  f"{bounds[2] - bounds[0]}x{bounds[3] - bounds[1]} screen")
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
                self._screen(d.id)._grab_since(data, left - d.x, top - d.y, since)
            else:
                data = self._compose(parts, left, top, width, height, since)
        except ZorsckError as e:
            raise ScreenShotError(str(e), {"error": e}) from e
        return self.cls_image(data, {"left": left, "top": top, "width": width, "height": height})

    def _compose(self, parts, left, top, width, height, since):
        """A width x height BGRA image from the parts of each monitor, black between them, each
        from a frame that shows its display from `since` on (None: the latest)."""
        data = bytearray(b"\0\0\0\xff") * (width * height)
        for d, x, y, w, h in parts:
            part = Pixels.blank(w, h)
            self._screen(d.id)._grab_since(part, x - d.x, y - d.y, since)
            for row in range(h):
                start = ((y - top + row) * width + x - left) * 4
                data[start:start + w * 4] = part[row * w * 4:(row + 1) * w * 4]
        return data

    def save(self, mon=0, output="monitor-{mon}.png", callback=None):
        """Grabs and writes PNGs, yielding their names: mon=0 one file per monitor,
        -1 one of all monitors together, N monitor N. `output` may use {mon}, {top},
        {left}, {width}, {height} and {date}; callback(name) runs before each write."""
        mon = checked_int(mon, -(1 << 31), (1 << 31) - 1, "mon")
        if not isinstance(output, str) or (callback is not None and not callable(callback)):
            raise TypeError("output must be a str, and callback None or callable")
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
            if callback is not None:
                callback(name)
            shot = self.grab(monitor)
            to_png(shot.rgb, shot.size, level=self.compression_level, output=name)
            yield name

    def shot(self, **kwargs):
        """Saves monitor 1 (or as save() is told) and returns the file's name."""
        kwargs.setdefault("mon", 1)
        return next(self.save(**kwargs))


MSSBase = MSS
