"""python -m zorsck.mss: screenshots from the command line, with the python-mss command's options.

Exit status: 0 done, 1 no capture here or a file not written, 2 a bad command line (also a
monitor that does not exist or coordinates past the screen).
"""
import argparse
import datetime
import os
import sys

from .._version import version
from ..cli import complain, negatives_joined
from .base import MSS
from .exception import ScreenShotError
from .tools import to_png

PROG = "python -m zorsck.mss"
OUTPUT, REGION_OUTPUT = "monitor-{mon}.png", "sct-{top}x{left}_{width}x{height}.png"  # default names


def coordinates(text):
    """"top, left, width, height" as four integers, width and height at least 1; an argparse type."""
    try:
        top, left, width, height = (int(part) for part in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not top, left, width, height") from None
    if width < 1 or height < 1:
        raise argparse.ArgumentTypeError(f"{text!r}: width and height must be at least 1")
    return {"top": top, "left": left, "width": width, "height": height}


def parser():
    """The command line's parser, with python-mss's options."""
    p = argparse.ArgumentParser(prog=PROG, description="Screenshots of monitors or a part of the screen.")
    p.add_argument("-c", "--coordinates", type=coordinates,
                   help="the part of the screen to capture: top, left, width, height")
    p.add_argument("-l", "--level", type=int, choices=range(10), default=6, help="the PNG compression level")
    p.add_argument("-m", "--monitor", type=int, default=0,
                   help="the monitor to screenshot (0: each one, -1: all of them in one file)")
    p.add_argument("-o", "--output", default=OUTPUT, help="the output file name")
    p.add_argument("--with-cursor", action="store_true", help="accepted; the cursor is never drawn")
    p.add_argument("-q", "--quiet", action="store_true", help="do not print created files")
    p.add_argument("-v", "--version", action="version", version=version())
    return p


def shots(sct, options, usage, writing):
    """Grabs and writes what the options ask for, yielding each file's name; calls
    writing(name) before each file is written, usage(message) for a monitor or region that
    the screen does not have."""
    monitors = sct.monitors
    region = options.coordinates
    if region is None:
        if not -1 <= options.monitor < len(monitors):
            usage(f"monitor {options.monitor} does not exist ({len(monitors) - 1} monitors)")
        yield from sct.save(mon=options.monitor, output=options.output, callback=writing)
        return
    screen = monitors[0]
    if region["left"] < screen["left"] or region["top"] < screen["top"] or \
            region["left"] + region["width"] > screen["left"] + screen["width"] or \
            region["top"] + region["height"] > screen["top"] + screen["height"]:
        usage(f"{region['width']}x{region['height']} at ({region['left']}, {region['top']}) reaches past "
              f"the {screen['width']}x{screen['height']} screen")
    output = REGION_OUTPUT if options.output == OUTPUT else options.output
    name = output.format(mon=options.monitor, date=datetime.datetime.now(), **region)
    shot = sct.grab(region)
    writing(name)
    to_png(shot.rgb, shot.size, level=options.level, output=name)
    yield name


def main(argv=None):
    """Runs the command line `argv` (default sys.argv[1:]); returns the exit status."""
    p = parser()
    options = p.parse_args(negatives_joined(sys.argv[1:] if argv is None else argv, ("-c", "--coordinates")))
    try:
        options.output.format(mon=0, top=0, left=0, width=1, height=1, date=datetime.datetime.now())
    except (KeyError, IndexError, ValueError, AttributeError) as e:
        p.error(f"the output name {options.output!r} cannot be filled in: {e!r}")
    target = []  # the file being written; empty while a name is printed

    def writing(name):
        target[:] = [name]
    try:
        with MSS(compression_level=options.level, with_cursor=options.with_cursor) as sct:
            for name in shots(sct, options, p.error, writing):
                target.clear()
                if not options.quiet:
                    print(os.path.realpath(name), flush=True)
    except ScreenShotError as e:
        complain(f"{PROG}: {e}")
        return 1
    except BrokenPipeError:  # the reader of the names went away
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except OSError as e:
        complain(f"{PROG}: cannot write {target[0] if target else 'to standard output'}: {e.strerror or e}")
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
