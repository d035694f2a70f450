#!/usr/bin/env python3
"""Writes the hand-made seed inputs of zorsck_fuzz into corpus/.

Each input is a list of operations; the byte layout follows zorsck_fuzz.cc
(operation codes) and fuzz_input.h (display ids, coordinates, sizes).
"""
import os
import struct

ENSURE, CROP, CROP_SEQ, SEQ, STOP, ADVANCE, DELIVER, FAULT, PLATFORM_STOP, HOLD, RELEASE, \
    SETTLE, IDLE_JUMP = range(13)
CONTENT_QUERY, START_CAPTURE, UPDATE, STOP_STEP = range(4)
(CONTENT_QUERY_ERROR, EMPTY_DISPLAY_LIST, ADD_OUTPUT_ERROR, START_CAPTURE_ERROR, UPDATE_ERROR,
 STOP_ERROR, NO_IMAGE_BUFFER, INVALID_TIME, FUTURE_TIME, NULL_BASE) = range(10)
LAST, NEXT, LATEST = 0, 1, 2  # crop_seq's choice of seq
NULL_OUT, PLAIN, NULL_RESULTS = 0x00, 0x01, 0x31
HUGE = 'huge'


def disp(d):
    return bytes([d]) if d in (0, 1, 2) else bytes([3]) + struct.pack('<I', d)


def coord(v):
    if 0 <= v < 1100:
        return bytes([0]) + struct.pack('<H', v)
    if -256 <= v < 0:
        return bytes([4, -1 - v])
    return bytes([7]) + struct.pack('<i', v)


def ext(v):
    if v == HUGE:
        return bytes([6, 0])
    if v == 0:
        return bytes([5])
    if v < 256:
        return bytes([0, v])
    return bytes([4]) + struct.pack('<H', v)


def crop(d, x, y, w, h, flags=PLAIN):
    return bytes([CROP]) + disp(d) + coord(x) + coord(y) + ext(w) + ext(h) + bytes([flags])


def crop_seq(d, pick, x, y, w, h, flags=PLAIN):
    return bytes([CROP_SEQ]) + disp(d) + bytes([pick]) + coord(x) + coord(y) + ext(w) + ext(h) \
        + bytes([flags])


def ensure(d, fps=60):
    return bytes([ENSURE]) + disp(d) + bytes([fps])


def advance(b):  # b < 192: b * 2 ms
    return bytes([ADVANCE, b])


def deliver():
    return bytes([DELIVER, 0])


def fault(kind, count=1):
    return bytes([FAULT, kind, count - 1])


def hold(step, on):
    return bytes([HOLD, step | (4 if on else 0)])


def release(step, count=0):  # count 0: all
    return bytes([RELEASE, step | (count << 2)])


def op(code):
    return bytes([code])


SEEDS = {
    'start_frames_crops': [
        ensure(0), crop(0, 0, 0, 1, 1), op(SETTLE), crop(0, 0, 0, 1, 1), advance(10),
        crop(0, 100, 100, 64, 64), crop_seq(0, LAST, 500, 300, 32, 32), deliver(),
        crop(1, 616, 412, 24, 68), crop_seq(1, LAST, 0, 0, 16, 16), crop(0, 616, 412, 25, 1),
        crop(0, 300, 200, 0, 5), crop(0, 0, 0, HUGE, HUGE), crop(0, 0, 0, 640, 480),
        op(SEQ), advance(40), crop_seq(0, LAST, 10, 10, 8, 8), crop_seq(0, NEXT, 10, 10, 8, 8),
        crop(0, 5, 5, 3, 3, NULL_RESULTS), op(STOP), crop_seq(0, LAST, 0, 0, 1, 1), op(SEQ),
    ],
    'region_requests': [
        ensure(0), crop(0, 100, 100, 50, 50), op(SETTLE), advance(10), crop(0, 100, 100, 50, 50),
        crop(0, 500, 400, 64, 64), advance(180), crop(0, 500, 400, 64, 64), op(SETTLE),
        advance(10), crop(0, 500, 400, 64, 64), crop_seq(0, LAST, 120, 120, 16, 16),
        crop(0, 0, 0, 700, 700), crop(0, 0, 0, 384, 480), crop(0, 0, 0, 385, 480), hold(UPDATE, True), advance(180),
        crop(0, 520, 20, 100, 40), deliver(), crop(0, 120, 110, 8, 8), release(UPDATE),
        deliver(), crop(0, 520, 20, 100, 40), crop(0, -5, 10, 4, 4), crop(0, 636, 476, 8, 8),
        op(PLATFORM_STOP), op(SETTLE), crop(0, 300, 300, 20, 20), op(SETTLE), advance(20),
        crop(0, 300, 300, 20, 20),
    ],
    'stop_while_start_held': [
        hold(START_CAPTURE, True), crop(0, 10, 10, 4, 4), op(SETTLE), op(STOP),
        crop(0, 400, 300, 40, 40), op(SETTLE), release(START_CAPTURE, 1), deliver(),
        crop(0, 10, 10, 4, 4), crop(0, 400, 300, 40, 40), release(START_CAPTURE), deliver(),
        crop(0, 10, 10, 4, 4), crop_seq(0, LAST, 20, 20, 4, 4), op(SEQ), hold(CONTENT_QUERY, True),
        op(STOP), crop(0, 10, 10, 4, 4), op(STOP), release(CONTENT_QUERY), deliver(),
        crop(0, 10, 10, 4, 4), hold(STOP_STEP, True), op(STOP), crop(0, 10, 10, 4, 4),
        op(SETTLE), advance(10), crop(0, 10, 10, 4, 4), release(STOP_STEP),
    ],
    'faults': [
        fault(CONTENT_QUERY_ERROR), crop(0, 1, 1, 2, 2), op(SETTLE), crop(0, 1, 1, 2, 2),
        op(SETTLE), op(STOP), fault(START_CAPTURE_ERROR), crop(0, 1, 1, 2, 2), op(SETTLE),
        crop(0, 1, 1, 2, 2), op(SETTLE), advance(10), fault(NO_IMAGE_BUFFER), deliver(),
        crop(0, 1, 1, 2, 2), fault(NULL_BASE), deliver(), crop(0, 1, 1, 2, 2),
        crop_seq(0, LATEST, 1, 1, 2, 2), fault(FUTURE_TIME), deliver(), crop(0, 3, 3, 2, 2),
        fault(INVALID_TIME), deliver(), crop(0, 3, 3, 2, 2), op(PLATFORM_STOP), op(SETTLE),
        crop(0, 3, 3, 2, 2), fault(EMPTY_DISPLAY_LIST), fault(ADD_OUTPUT_ERROR), op(STOP),
        crop(0, 3, 3, 2, 2), op(SETTLE), crop(0, 3, 3, 2, 2), op(SETTLE), crop(0, 3, 3, 2, 2),
        op(SETTLE), fault(STOP_ERROR), fault(UPDATE_ERROR), advance(10),
        crop(0, 500, 400, 16, 16), op(STOP), op(SETTLE),
    ],
    'displays_and_idle': [
        ensure(1), crop(1, 0, 0, 8, 8), op(SETTLE), deliver(), crop(1, 0, 0, 8, 8),
        crop(2, 0, 0, 8, 8), crop_seq(2, LAST, 0, 0, 8, 8), ensure(2, 30), crop(2, 0, 0, 8, 8),
        op(SETTLE), deliver(), crop(2, 470, 350, 10, 10), crop(0, 100, 100, 8, 8),
        crop(77777, 0, 0, 8, 8), ensure(77777), ensure(0), bytes([IDLE_JUMP, 10]),
        advance(248), crop(2, 0, 0, 8, 8), op(SEQ), ensure(1), crop(1, 0, 0, 8, 8), op(SETTLE),
        advance(20), crop(1, 0, 0, 8, 8),
    ],
    'null_out_and_extremes': [
        crop(0, 0, 0, 1, 1, NULL_OUT), crop_seq(0, LAST, 0, 0, 1, 1, NULL_OUT),
        crop(0, 0, 0, 1, 1), op(SETTLE), deliver(), crop(0, 0, 0, 1, 1, NULL_OUT),
        crop(0, -2147483648, 0, HUGE, 1), crop(0, 2147483647, 2147483647, HUGE, HUGE),
        crop(0, 0, 0, 0, HUGE), crop(0, 0, 0, HUGE, 0), crop(0, 639, 479, 1, 1),
        crop_seq(0, LAST, 639, 479, 1, 2), crop_seq(0, LAST, -1, -1, 1, 1),
        crop_seq(0, LAST, 100, 100, 0, 0), crop_seq(9, LAST, 0, 0, 1, 1), op(SEQ),
    ],
}


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
    os.makedirs(here, exist_ok=True)
    for name, ops in SEEDS.items():
        with open(os.path.join(here, name), 'wb') as f:
            f.write(b''.join(ops))


if __name__ == '__main__':
    main()
