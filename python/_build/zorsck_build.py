"""Builds the zorsck wheel and sdist with the standard library only (a PEP 517 backend)."""
import base64
import hashlib
import io
import os
import tarfile
import zipfile

NAME, VERSION, TAG = "zorsck", "0.1.0", "py3-none-any"
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
METADATA = f"""Metadata-Version: 2.1
Name: {NAME}
Version: {VERSION}
Summary: Fast, repeated grabs of screen rectangles as numpy arrays, over libzorsck
License: see the zorsck repository
Requires-Python: >=3.8
Provides-Extra: numpy
Requires-Dist: numpy; extra == "numpy"
"""


def _sources():
    """The package's .py files, relative to this project, in a stable order."""
    for root, dirs, files in sorted(os.walk(os.path.join(HERE, NAME))):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for f in sorted(files):
            if f.endswith(".py"):
                yield os.path.relpath(os.path.join(root, f), HERE).replace(os.sep, "/")


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    """Writes the pure-Python wheel into `wheel_directory`; returns its file name."""
    name, info, records = f"{NAME}-{VERSION}-{TAG}.whl", f"{NAME}-{VERSION}.dist-info", []
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as whl:
        def add(arcname, data):
            whl.writestr(arcname, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            records.append(f"{arcname},sha256={digest},{len(data)}")
        for path in _sources():
            with open(os.path.join(HERE, path), "rb") as f:
                add(path, f.read())
        add(f"{info}/METADATA", METADATA.encode())
        add(f"{info}/WHEEL", f"Wheel-Version: 1.0\nGenerator: zorsck_build\nRoot-Is-Purelib: true\nTag: {TAG}\n".encode())
        whl.writestr(f"{info}/RECORD", "\n".join(records + [f"{info}/RECORD,,"]) + "\n")
    return name


def build_sdist(sdist_directory, config_settings=None):
    """Writes the source archive into `sdist_directory`; returns its file name."""
    base = f"{NAME}-{VERSION}"
    with tarfile.open(os.path.join(sdist_directory, base + ".tar.gz"), "w:gz") as tar:
        for path in ["pyproject.toml", "_build/zorsck_build.py", *_sources()]:
            tar.add(os.path.join(HERE, path), f"{base}/{path}")
        info, data = tarfile.TarInfo(f"{base}/PKG-INFO"), METADATA.encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return base + ".tar.gz"
