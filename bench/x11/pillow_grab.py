#!/usr/bin/env python3
"""Times Pillow's ImageGrab.grab of one rectangle of an X display, per call.

    pillow_grab.py --display :N --rect X,Y,W,H [--repeat R] [--seconds S]

Prints one JSON object: the median over R repeats of the time per call, each
repeat timeit-timed over about S seconds. Needs Pillow (python3-pil).
"""
import argparse
import json
import statistics
import timeit

from PIL import ImageGrab


def parse_args():
    """The command line."""
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--display", required=True, help="X display name, e.g. :99")
    p.add_argument("--rect", required=True, help="X,Y,W,H")
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--seconds", type=float, default=1.0, help="about this long per repeat")
    return p.parse_args()


def main():
    """Checks one grab, then times grabs and prints the figures."""
    args = parse_args()
    x, y, w, h = (int(v) for v in args.rect.split(","))
    bbox = (x, y, x + w, y + h)

    def grab():
        return ImageGrab.grab(bbox=bbox, xdisplay=args.display)

    image = grab()
    if image.size != (w, h):
        raise SystemExit(f"Pillow grabbed {image.size}, not {(w, h)}")
    timer = timeit.Timer(grab)
    number, _ = timer.autorange()  # calls that take at least 0.2 s
    number = max(1, int(number * args.seconds / 0.2))
    per_call = [t / number for t in timer.repeat(repeat=args.repeat, number=number)]
    print(json.dumps({"rect": [x, y, w, h], "calls_per_repeat": number,
                      "seconds_per_call": statistics.median(per_call),
                      "repeats_seconds_per_call": per_call,
                      "first_pixel_rgb": list(image.getpixel((0, 0)))}))


if __name__ == "__main__":
    main()
