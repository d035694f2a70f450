# The wheel as a user gets it: built by pip around build/default's libraries, installed into
# a fresh virtual environment, used with nothing set (on Xvfb) and on the simulated display,
# then uninstalled without a trace. Also how the wheel's platform tag follows what the
# libraries need.
import os
import re
import subprocess
import sys
import zipfile

import numpy as np
import pytest

from test_cli import png_pixels
from test_zorsck import expected
import zorsck
from zorsck import _version

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "default")
XVFB = os.path.join(BUILD, "tools", "xvfb", "zorsck-xvfb")
sys.path.insert(0, os.path.join(ROOT, "python", "_build"))
import zorsck_build  # noqa: E402


@pytest.mark.parametrize("needs, this_glibc, floor", [
    ({"GLIBC_2.2.5", "GLIBC_2.34", "GLIBCXX_3.4.30", "CXXABI_1.3.9", "GCC_3.0"}, 36, 35),
    ({"GLIBC_2.2.5", "GLIBC_2.14", "GLIBCXX_3.4.19"}, 36, 17), ({"GLIBC_2.28", "GLIBCXX_3.4.22"}, 36, 28),
    ({"GLIBC_2.17", "CXXABI_1.3.13"}, 36, 34), ({"GLIBC_2.17", "GCC_13.0.0"}, 41, 39),
    ({"GLIBC_2.17", "GLIBCXX_3.4.34"}, 41, 41),
])
def test_wheel_tag_is_the_oldest_glibc_whose_libstdcxx_serves(needs, this_glibc, floor):
    assert zorsck_build.glibc_floor(needs, this_glibc) == floor


def test_a_build_step_that_cannot_run_names_what_building_needs():
    with pytest.raises(RuntimeError, match=r"/nowhere/cmake failed: .*libxcb-devel.*tools/install-deps"):
        zorsck_build._run(["/nowhere/cmake"])


def x_pattern(x, y, w, h):
    """The RGB that zorsck-xvfb paints on its first screen (tools/xvfb/pattern.cc)."""
    X, Y = np.meshgrid(np.arange(x, x + w), np.arange(y, y + h))
    p = ((X & 0x7FF) | ((Y & 0x7FF) << 11)) ^ (0x9E3779B1 & 0xFFFFFF)
    return np.stack([p >> 16, (p >> 8) & 0xFF, p & 0xFF], axis=-1).astype(np.uint8)


def tree(top):
    """Every path under `top`."""
    return sorted(os.path.relpath(os.path.join(d, n), top) for d, ds, fs in os.walk(top) for n in ds + fs)


@pytest.mark.skipif(not os.path.exists(XVFB), reason="needs build/default with zorsck-xvfb")
def test_wheel_installs_captures_and_uninstalls_cleanly(tmp_path):
    env = {k: v for k, v in os.environ.items() if k not in ("ZORSCK_LIBRARY", "PYTHONPATH", "DISPLAY")}

    def run(*cmd, **extra):
        done = subprocess.run([str(c) for c in cmd], env=dict(env, **extra), cwd=tmp_path,
                              capture_output=True, text=True, timeout=300)
        return done.returncode, done.stdout, done.stderr

    venv, bin_dir = tmp_path / "venv", tmp_path / "venv" / "bin"
    assert run(sys.executable, "-m", "venv", venv)[0] == 0
    before = tree(venv)
    status, out, err = run(bin_dir / "pip", "wheel", "--no-deps", "--no-index", "-w", tmp_path,
                           os.path.join(ROOT, "python"), ZORSCK_BUILD_DIR=BUILD)
    assert status == 0, out + err
    wheel, = tmp_path.glob("*.whl")
    version = _version.from_cmake(os.path.join(ROOT, "CMakeLists.txt"))
    assert zorsck.__version__ == version  # this checkout's, read from CMakeLists.txt
    assert re.fullmatch(rf"zorsck-{re.escape(version)}-py3-none-manylinux_2_\d+_\w+\.whl", wheel.name)
    assert run(bin_dir / "pip", "install", "--no-index", wheel)[0] == 0  # pip checks the tag too

    status, out, err = run(bin_dir / "python", "-c", "from zorsck import _lib, __version__ as v\n"
                           "print(v, _lib.load().path, *_lib.candidates())")
    loaded_version, loaded, *found = out.split()
    package = str(next(venv.glob("lib/python*/site-packages/zorsck")))
    assert (loaded_version, os.path.dirname(loaded)) == (version, package), err
    assert [p for p in found if not p.startswith(package)] == [], "a libzorsck is installed elsewhere"

    status, out, err = run(bin_dir / "zorsck", "shot", "-r", "300,600,7,5", "-o", "sim.png", ZORSCK_LIBRARY="sim")
    assert status == 0, err
    np.testing.assert_array_equal(png_pixels(tmp_path / "sim.png"), expected(300, 600, 7, 5, 0)[:, :, 2::-1])
    x_status, out, x_err = run(XVFB, "--", bin_dir / "zorsck", "shot", "-r", "1915,1076,5,4", "-o", "x.png")

    assert run(bin_dir / "pip", "uninstall", "-y", "zorsck")[0] == 0 and tree(venv) == before
    if x_status == 125 and os.environ.get("ZORSCK_REQUIRE_XVFB") != "1":
        pytest.skip(f"no Xvfb: {x_err}")
    assert (x_status, out) == (0, "x.png\n"), x_err
    np.testing.assert_array_equal(png_pixels(tmp_path / "x.png"), x_pattern(1915, 1076, 5, 4))


WINDOWS_BUILD = os.path.join(ROOT, "build", "windows-cross")


@pytest.mark.skipif(not os.path.isfile(os.path.join(WINDOWS_BUILD, "CMakeCache.txt")),
                    reason="needs build/windows-cross (cmake --preset windows-cross)")
def test_windows_wheel_carries_the_package_and_both_dlls(tmp_path, monkeypatch):
    monkeypatch.setenv("ZORSCK_BUILD_DIR", WINDOWS_BUILD)
    name = zorsck_build.build_wheel(str(tmp_path))
    version = _version.from_cmake(os.path.join(ROOT, "CMakeLists.txt"))
    assert name == f"zorsck-{version}-py3-none-win_amd64.whl"
    with zipfile.ZipFile(tmp_path / name) as whl:
        names = set(whl.namelist())
        assert "Tag: py3-none-win_amd64\n" in whl.read(f"zorsck-{version}.dist-info/WHEEL").decode()
    assert {n for n in names if not n.startswith("zorsck-")} == {*zorsck_build._sources(), "zorsck/zorsck.dll",
                                                                 "zorsck/zorsck-sim.dll"}
