# The zorsck command and python -m zorsck.mss, run as a user runs them, on the simulated
# display: exact pixels in the PNGs, one-line errors with their exit status, no tracebacks.
import os
import re
import signal
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest

import zorsck
from test_zorsck import expected, one_stream, stub  # noqa: F401 (fixtures)
from zorsck import cli, mss
from zorsck.layout import Display

PYTHON = os.path.dirname(zorsck.__path__[0])


def png_pixels(path):
    """(h, w, 3) RGB of a PNG written by the package (8-bit RGB, filter 0, one IDAT)."""
    with open(path, "rb") as f:
        data = f.read()
    w, h = struct.unpack(">II", data[16:24])
    rows = zlib.decompress(data[data.index(b"IDAT") + 4:data.index(b"IEND") - 8])
    return np.frombuffer(rows, np.uint8).reshape(h, 1 + 3 * w)[:, 1:].reshape(h, w, 3)


def run(tmp_path, module, *args, **env):
    """(status, stdout, stderr without the library's [zorsck] lines) of python -m module args."""
    done = subprocess.run([sys.executable, "-m", module, *args], capture_output=True, text=True, timeout=60,
                          cwd=tmp_path, env=dict(os.environ, PYTHONPATH=PYTHON, **env))
    said = [line for line in done.stderr.splitlines() if not line.startswith("[zorsck]")]
    return done.returncode, done.stdout, said


@pytest.mark.parametrize("module, args, name, rect", [
    ("zorsck", ["shot", "-r", "1915,1077,5,3", "-o", "edge.png"], "edge.png", (1915, 1077, 5, 3)),
    ("zorsck", ["shot", "-d", "0", "-r", "0,0,1,1", "-o", "one.png"], "one.png", (0, 0, 1, 1)),
    ("zorsck.mss", ["-c", "500, 250, 20, 10", "-l", "1"], "sct-500x250_20x10.png", (250, 500, 20, 10)),
    ("zorsck.mss", ["-m", "1", "-o", "m-{mon}-{width}.png"], "m-1-1920.png", (0, 0, 1920, 1080)),
    ("zorsck.mss", ["-q", "-c", "1,2,3,4"], "sct-1x2_3x4.png", (2, 1, 3, 4)),
])
def test_commands_write_exact_pixels(tmp_path, module, args, name, rect):
    said = name if module == "zorsck" else os.path.realpath(tmp_path / name)  # as python-mss prints it
    assert run(tmp_path, module, *args) == (0, "" if "-q" in args else f"{said}\n", [])
    assert os.listdir(tmp_path) == [name]
    np.testing.assert_array_equal(png_pixels(tmp_path / name)[:, :, ::-1], expected(*rect, 0)[:, :, :3])


NO_X = {"ZORSCK_LIBRARY": os.path.join(os.path.dirname(os.environ["ZORSCK_LIBRARY"]), "libzorsck.so"), "DISPLAY": "", "WAYLAND_DISPLAY": ""}
REGION = {"ZOR_SCK_REGION": "1"}


@pytest.mark.parametrize("module, args, env, status, said", [
    ("zorsck", ["shot", "-r", "1918,0,3,1"], {}, 2, r"3x1 at \(1918, 0\) reaches past display 1 \(1920x1080\)"),
    ("zorsck", ["shot", "-r", "-1,5,1,1"], {}, 2, r"1x1 at \(-1, 5\) reaches past"),
    ("zorsck", ["shot"], REGION, 2, r"whole display 1920x1080 is larger than 0.6 of the display in region mode"),
    ("zorsck", ["shot", "-r", "1,2,3"], {}, 2, r"not X,Y,W,H"),
    ("zorsck", ["shot", "-d", "7"], {}, 2, r"no display 7: the library lists 1 "),
    ("zorsck", ["shot", "-o", "missing/x.png"], {}, 1, r"cannot write missing/x.png: No such file"),
    ("zorsck", ["shot"], {"ZORSCK_LIBRARY": "sim"}, 1, r"zorsck: libzorsck-sim not found"),
    ("zorsck", ["shot"], NO_X, 1, r"no screen capture here: neither DISPLAY nor WAYLAND_DISPLAY is set"),
    ("zorsck.mss", ["-m", "2"], {}, 2, r"monitor 2 does not exist"),
    ("zorsck.mss", ["-c", "0,1,1920,1"], {}, 2, r"1920x1 at \(1, 0\) reaches past the 1920x1080 screen"),
    ("zorsck.mss", ["-c", "-5, 0, 10, 10"], {}, 2, r"10x10 at \(0, -5\) reaches past"),
    ("zorsck.mss", ["-m", "1"], REGION, 1, r"1920x1080 is larger than 0.6 of the display in region mode"),
    ("zorsck.mss", ["-o", "x{nope}.png"], {}, 2, r"cannot be filled in"),
    ("zorsck.mss", ["-o", "/dev/full"], {}, 1, r"cannot write /dev/full: No space left"),
])
def test_mistakes_get_one_line_and_their_status(tmp_path, module, args, env, status, said):
    got, out, err = run(tmp_path, module, *args, **env)
    assert got == status and re.search(said, err[-1]), err
    assert not any("Traceback" in line for line in err) and (len(err) == 1 or err[0].startswith("usage:"))
    assert not any(f.endswith(".png") for f in os.listdir(tmp_path))


@pytest.mark.parametrize("redirect, command, status", [("2>&-", "shot -o missing/x.png", 1), ("1>&-", "watch", 1),
                                                       ("1>&-", "shot -o -", 1), ("1>&-", "displays", 1),
                                                       ("2>/dev/full", "shot -d 7", 2)])
def test_a_closed_or_full_standard_stream_keeps_the_status_and_errors_off_standard_output(
        tmp_path, redirect, command, status):
    done = subprocess.run(["sh", "-c", f'exec {redirect}; "{sys.executable}" -m zorsck {command}'],
                          cwd=tmp_path, capture_output=True, env=dict(os.environ, PYTHONPATH=PYTHON), timeout=60)
    assert done.returncode == status and b"Traceback" not in done.stderr and done.stdout == b""


def test_ctrl_c_while_the_command_loads_exits_130(monkeypatch):
    class Interrupted:
        def find_spec(self, name, *_):
            if name == "zorsck.cli":
                raise KeyboardInterrupt
    monkeypatch.delitem(sys.modules, "zorsck.cli")
    monkeypatch.setattr(sys, "meta_path", [Interrupted()] + sys.meta_path)
    from zorsck.__main__ import main
    assert main() == 130


def test_displays_lists_the_simulated_one(tmp_path):
    assert run(tmp_path, "zorsck", "displays") == (0, "id  size       place  scale  main\n"
                                                      "1   1920x1080  +0+0   1      yes: display 0\n", [])


@pytest.mark.parametrize("end", ["reader leaves", "ctrl-c"])
def test_watch_prints_lines_until_its_reader_leaves_or_ctrl_c(end):
    watch = subprocess.Popen([sys.executable, "-m", "zorsck", "watch", "-r", "10,10,64,64"], text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=dict(os.environ, PYTHONPATH=PYTHON))
    try:
        line = watch.stdout.readline()
        assert re.fullmatch(r" *[0-9.]+ fps  frame age +-?[0-9.]+ ms  seq [1-9][0-9]*\n", line), line
        watch.send_signal(signal.SIGINT) if end == "ctrl-c" else watch.stdout.close()
        assert watch.wait(timeout=10) == 0 and "Traceback" not in watch.stderr.read()
    finally:
        watch.kill()
        watch.wait()


def test_watch_keeps_a_still_screens_stream_from_its_idle_stop(monkeypatch, capsys, stub):
    crops, clock, lib = [], [0.0], stub(seq=7)  # the frame never changes
    crop = lib.zor_sck_crop
    lib.zor_sck_crop = lambda *a: crops.append(clock[0]) or crop(*a)

    def sleep(seconds):  # a manual clock that stops the watch after 30 s
        clock[0] += 0.25
        if clock[0] > 30:
            raise KeyboardInterrupt
    monkeypatch.setattr(cli, "find_display", lambda ident: Display(0, 0, 0, 10, 10, 1.0, True))
    monkeypatch.setattr(cli.time, "monotonic", lambda: clock[0])
    monkeypatch.setattr(cli.time, "sleep", sleep)
    assert cli.main(["watch"]) == 0
    assert max(b - a for a, b in zip(crops, crops[1:] + [30])) < 5  # the library stops after 5 idle seconds
    assert len(capsys.readouterr().out.splitlines()) == 30  # piped: a line a second
