"""The package's version: the project() version of the CMakeLists.txt it was built from."""
import os
import re

BUILT = None  # the wheel's builder writes the version here; None in a source checkout


def from_cmake(path):
    """The VERSION of project(zorsck ...) in the CMakeLists.txt at `path`; ValueError without one."""
    with open(path, encoding="utf-8") as f:
        found = re.search(r"^\s*project\(\s*zorsck\s+VERSION\s+([0-9][0-9.]*)", f.read(), re.MULTILINE)
    if not found:
        raise ValueError(f"{path} names no project(zorsck VERSION ...)")
    return found.group(1)


def version():
    """BUILT when installed; from a source checkout, the CMakeLists.txt two folders up."""
    if BUILT:
        return BUILT
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        return from_cmake(os.path.join(here, "..", "..", "CMakeLists.txt"))
    except (OSError, ValueError):
        return "0+unknown"
