"""The zorsck command: a PNG of a display or a rectangle, the displays, a live frame counter.

    zorsck shot [-d DISPLAY] [-r X,Y,W,H] [-o FILE.png]
    zorsck displays
    zorsck watch [-d DISPLAY] [-r X,Y,W,H]

Exit status: 0 done (also when Ctrl-C ends `watch`, or a reader closes the pipe), 1 no
capture here or the output could not be written, 2 a bad command line (also a rectangle
outside the display or an unknown display), 130 another command stopped by Ctrl-C.
"""
import argparse
import datetime
import os
import re
import sys
import time

from . import layout
from ._version import version
from .errors import NotServable, UnknownDisplay, ZorsckError
from .mss.screenshot import ScreenShot
from .mss.tools import to_png
from .screen import U32_MAX, Pixels, Screen, region_refusal

USAGE, UNAVAILABLE = 2, 1
WATCH_PERIOD = {True: 0.5, False: 1.0}  # seconds between lines: on a terminal, piped
KEEP_ALIVE = 1.0  # seconds: a still screen is cropped this often, so its stream keeps running


class Failure(Exception):
    """A one-line error for the user and the exit status that goes with it."""

    def __init__(self, message, status):
        super().__init__(message)
        self.status = status


def complain(message):
    """Prints one line on standard error; nothing when it is closed or full (never on standard output)."""
    if sys.stderr is None:
        return
    try:
        sys.stderr.write(message + "\n")  # one write: the library's lines come between whole lines only
        sys.stderr.flush()
    except OSError:  # full: what is left unwritten goes nowhere, also at the interpreter's exit
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stderr.fileno())


def negatives_joined(argv, options):
    """argv with each value of `options` that starts with a minus and a digit joined to its option
    (-r -1,0,5,5 as -r=-1,0,5,5), which argparse would otherwise take for an option of its own."""
    out = []
    for arg in argv:
        if out and out[-1] in options and re.match(r"\s*-[0-9]", arg):
            out[-1] += "=" + arg
        else:
            out.append(arg)
    return out


def rectangle(text):
    """X,Y,W,H as four integers, W and H at least 1; an argparse type."""
    try:
        x, y, w, h = (int(part) for part in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not X,Y,W,H (four integers)") from None
    if w < 1 or h < 1:
        raise argparse.ArgumentTypeError(f"{text!r}: width and height must be at least 1")
    return x, y, w, h


def display_id(text):
    """A display id: an integer from 0 (the main display) to 2**32 - 1; an argparse type."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a display id (an integer)") from None
    if not 0 <= value <= U32_MAX:
        raise argparse.ArgumentTypeError(f"display id {value} is outside [0, {U32_MAX}]")
    return value


def parser():
    """The command line's parser."""
    top = argparse.ArgumentParser(prog="zorsck", description="Screen capture from the command line.")
    top.add_argument("--version", action="version", version=f"zorsck {version()}")
    commands = top.add_subparsers(dest="command", required=True, metavar="COMMAND")
    where = argparse.ArgumentParser(add_help=False)
    where.add_argument("-d", "--display", type=display_id, default=0,
                       help="display id from `zorsck displays` (default 0: the main display)")
    shot = commands.add_parser("shot", parents=[where], help="write one PNG of a display or rectangle")
    shot.add_argument("-r", "--rect", type=rectangle, metavar="X,Y,W,H",
                      help="rectangle in the display's pixels (default: all of it)")
    shot.add_argument("-o", "--output", default="shot.png", metavar="FILE.png",
                      help="where to write the PNG, - for standard output (default shot.png)")
    commands.add_parser("displays", help="list the displays: ids, sizes, places, scales, the main one")
    watch = commands.add_parser("watch", parents=[where],
                                help="show frames per second, frame age and sequence number until Ctrl-C")
    watch.add_argument("-r", "--rect", type=rectangle, metavar="X,Y,W,H",
                       help="rectangle in the display's pixels to read (default: the pixel at 0,0)")
    return top


def listed_displays():
    """The displays to capture, main one first; Failure when capture is unavailable or there is none."""
    try:
        found = layout.displays()
    except ZorsckError as e:
        raise Failure(str(e), UNAVAILABLE) from None
    if not found:
        raise Failure("no display to capture", UNAVAILABLE)
    return found


def find_display(ident):
    """The Display `ident` names (0: the main one); Failure when there is none."""
    found = listed_displays()
    chosen = layout.named(found, ident)
    if chosen is None:
        raise Failure(f"no display {ident}: the library lists {', '.join(str(d.id) for d in found)} "
                      f"(`zorsck displays`; 0 names the main one)", USAGE)
    return chosen


def region(display, rect):
    """The rectangle to read (all of `display` without one); Failure when it reaches past it, or
    region mode cannot serve it."""
    x, y, w, h = rect or (0, 0, display.width, display.height)
    if x < 0 or y < 0 or x + w > display.width or y + h > display.height:
        raise Failure(f"{w}x{h} at ({x}, {y}) reaches past display {display.id} "
                      f"({display.width}x{display.height})", USAGE)
    refused = region_refusal(display, w, h)
    if refused:
        raise Failure(("a whole display " if rect is None else "") + refused
                      + ("; -r X,Y,W,H takes a part of it" if rect is None else ""), USAGE)
    return x, y, w, h


def grab(screen, x, y, w, h, out=None, fresh=False):
    """BGRA Pixels of the rectangle (with `fresh`, as the display is at the call or later);
    Failure when the library refuses."""
    out = out if out is not None else Pixels.blank(w, h)
    try:
        screen.grab_into(out, x, y, fresh=fresh)
    except NotServable as e:
        raise Failure(str(e), USAGE) from None
    except ZorsckError as e:
        raise Failure(str(e), UNAVAILABLE) from None
    return out


def open_screen(ident):
    """A Screen of display `ident`; Failure when capture is unavailable."""
    try:
        return Screen(ident)
    except UnknownDisplay as e:
        raise Failure(str(e), USAGE) from None
    except ZorsckError as e:
        raise Failure(str(e), UNAVAILABLE) from None


def shot(options):
    """Writes one PNG; prints its name."""
    x, y, w, h = region(find_display(options.display), options.rect)
    with open_screen(options.display) as screen:
        pixels = grab(screen, x, y, w, h, fresh=True)
    png = to_png(ScreenShot(pixels, {"left": x, "top": y, "width": w, "height": h}).rgb, (w, h))
    if options.output == "-":
        sys.stdout.buffer.write(png)
        return 0
    try:
        with open(options.output, "wb") as f:
            f.write(png)
    except OSError as e:
        raise Failure(f"cannot write {options.output}: {e.strerror or e}", UNAVAILABLE) from None
    print(options.output)
    return 0


def displays(_options):
    """Prints the displays, one a line; the main one is also display 0."""
    found = listed_displays()
    rows = [("id", "size", "place", "scale", "main")] + [
        (str(d.id), f"{d.width}x{d.height}", "?" if d.x is None else f"{d.x:+d}{d.y:+d}", f"{d.scale:g}",
         "yes: display 0" if d.primary else "")
        for d in found]
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
    return 0


def watch(options):
    """Prints frames per second, the frame's age and its sequence number until Ctrl-C: one
    line rewritten in place on a terminal, a line each second when piped."""
    x, y, w, h = region(find_display(options.display), options.rect or (0, 0, 1, 1))
    terminal = sys.stdout.isatty()
    out = Pixels.blank(w, h)
    with open_screen(options.display) as screen:
        grab(screen, x, y, w, h, out)
        shown_at, shown_seq, grabbed_at = time.monotonic(), screen.seq, time.monotonic()
        while True:
            time.sleep(0.005)
            now = time.monotonic()
            if screen.changed() or now - grabbed_at >= KEEP_ALIVE:
                grab(screen, x, y, w, h, out)
                grabbed_at = now
            if now - shown_at >= WATCH_PERIOD[terminal]:
                fps = (screen.seq - shown_seq) / (now - shown_at)
                age = datetime.datetime.now(datetime.timezone.utc) - screen.timestamp
                line = f"{fps:6.1f} fps  frame age {age.total_seconds() * 1000:7.1f} ms  seq {screen.seq}"
                sys.stdout.write(f"\r{line}\033[K" if terminal else line + "\n")
                sys.stdout.flush()
                shown_at, shown_seq = now, screen.seq


def main(argv=None):
    """Runs the command line `argv` (default sys.argv[1:]); returns the exit status."""
    options = parser().parse_args(negatives_joined(sys.argv[1:] if argv is None else argv, ("-r", "--rect")))
    if sys.stdout is None and (options.command != "shot" or options.output == "-"):
        complain("zorsck: standard output is closed")
        return UNAVAILABLE
    try:
        status = {"shot": shot, "displays": displays, "watch": watch}[options.command](options)
        if sys.stdout is not None:
            sys.stdout.flush()
        return status
    except Failure as e:
        complain(f"zorsck: {e}")
        return e.status
    except KeyboardInterrupt:
        if sys.stdout is not None and sys.stdout.isatty():
            print()
        return 0 if options.command == "watch" else 130
    except BrokenPipeError:
        # The reader went away (`zorsck watch | head`): stop quietly, and let the
        # interpreter's last flush of standard output go nowhere.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except OSError as e:  # standard output full or closed
        complain(f"zorsck: cannot write to standard output: {e.strerror or e}")
        return UNAVAILABLE
