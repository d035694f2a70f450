"""Builds the zorsck wheel and sdist with the standard library only (a PEP 517 backend).

The wheel carries the native libraries inside the package: libzorsck (and on Linux
libzorsck-sim), built with CMake from the project around this folder, or from the
copy under native/ in an sdist. Environment:
  ZORSCK_BUILD_DIR        an already configured CMake build directory to take them from
                          (its two libraries are built when out of date); without it the
                          wheel is built from source in a temporary directory
  ZORSCK_WHEEL_PLATFORM   "macos": the universal macOS library, cross-built against the
                          SDK in $ZORSCK_MACOS_SDK or the per-user cache
                          (${XDG_CACHE_HOME:-~/.cache}/zorsck/macos-sdk/MacOSX14.0-min.sdk);
                          "windows": zorsck.dll and zorsck-sim.dll, cross-built with mingw-w64
                          (cmake/toolchains/windows-cross.cmake); on Windows itself the
                          native build is a Windows one anyway
The version is CMake's project() version; the platform tag is worked out from what the
built libraries need (docs/install.md says how).
"""
import base64
import hashlib
import importlib.util
import io
import os
import re
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

NAME = "zorsck"
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What an sdist carries of the project under native/: what configuring and building the
# libraries without tests reads.
NATIVE = ["CMakeLists.txt", "cmake", "include", "src", "tools/xvfb"]
# The newest libstdc++ and libgcc_s symbol versions each glibc release has beside it
# on every mainstream distribution that ships that glibc (CentOS 7, Debian 9, Ubuntu
# 18.04, Debian 11 / Ubuntu 20.04, RHEL 9, Ubuntu 22.04, Ubuntu 24.04):
# (glibc 2.N, GLIBCXX_3.4.N, CXXABI_1.3.N, GCC release).
LIBSTDCXX_BESIDE_GLIBC = [(17, 19, 7, (4, 8, 5)), (24, 22, 10, (6, 3)), (27, 25, 11, (8, 4)),
                          (31, 28, 12, (10, 2)), (34, 29, 13, (11, 2)), (35, 30, 13, (12, 1)),
                          (39, 33, 15, (14, 0))]
MACOS_DEPLOYMENT_TARGET = "10.15"


def _load_version_module():
    """The package's _version module, loaded from its file (the package is not importable here)."""
    found = importlib.util.spec_from_file_location("_zorsck_version", os.path.join(HERE, NAME, "_version.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def _project_root():
    """The CMake project: the checkout around this folder, or native/ in an sdist."""
    for root in (os.path.dirname(HERE), os.path.join(HERE, "native")):
        try:
            _load_version_module().from_cmake(os.path.join(root, "CMakeLists.txt"))
            return root
        except (OSError, ValueError):
            continue
    raise RuntimeError(f"no CMake project of {NAME} around {HERE}")


def _version():
    """CMake's project() version."""
    return _load_version_module().from_cmake(os.path.join(_project_root(), "CMakeLists.txt"))


def _metadata(version):
    """The METADATA (and PKG-INFO) text."""
    return f"""Metadata-Version: 2.1
Name: {NAME}
Version: {version}
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


# What building the libraries takes, said when a build step cannot run or fails.
NEEDS = ("building libzorsck needs CMake, a C++ compiler, pkg-config, binutils and the XCB, libsystemd "
         "and PipeWire development files: on Debian and Ubuntu `apt-get install cmake g++ pkg-config binutils "
         "libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-damage0-dev libsystemd-dev libpipewire-0.3-dev`, "
         "on Fedora `dnf install cmake gcc-c++ pkgconf-pkg-config binutils libxcb-devel systemd-devel "
         "pipewire-devel`; in a checkout of zorsck, tools/install-deps installs them (Debian)")


def _run(cmd, **kw):
    """Runs a build step, its output going to the caller's; RuntimeError naming it, and what
    building needs, on failure."""
    print("+", " ".join(cmd), flush=True)
    try:
        subprocess.run(cmd, check=True, stdout=sys.stderr, **kw)
    except (OSError, subprocess.CalledProcessError) as e:
        raise RuntimeError(f"{cmd[0]} failed: {e}; {NEEDS}") from e


def _cache(build):
    """The CMakeCache.txt of `build` as a dict of name -> value."""
    values = {}
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            found = re.match(r"^([A-Za-z_][A-Za-z0-9_]*):[A-Z]+=(.*)$", line.rstrip("\n"))
            if found:
                values[found.group(1)] = found.group(2)
    return values


def _macos_sdk():
    """The macOS SDK to cross-build against: $ZORSCK_MACOS_SDK, else the per-user cache's."""
    sdk = os.environ.get("ZORSCK_MACOS_SDK")
    if not sdk:
        cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
        sdk = os.path.join(cache, "zorsck", "macos-sdk", "MacOSX14.0-min.sdk")
    if not os.path.isfile(os.path.join(sdk, "SDKSettings.json")):
        raise RuntimeError(f"no macOS SDK at {sdk} (set ZORSCK_MACOS_SDK)")
    return sdk


def _configure(root, build):
    """Configures a fresh build of the libraries only in `build`."""
    cmd = ["cmake", "-S", root, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DZORSCK_BUILD_TESTS=OFF",
           "-DZORSCK_BUILD_EXAMPLES=OFF", "-DZORSCK_BUILD_BENCH=OFF"]
    platform = os.environ.get("ZORSCK_WHEEL_PLATFORM", "")
    if platform not in ("", "macos", "windows"):
        raise RuntimeError(f"ZORSCK_WHEEL_PLATFORM must be empty, macos or windows, not {platform!r}")
    if platform == "windows" or sys.platform == "win32":
        cmd += ["-DZORSCK_BACKEND=windows"]
    if platform == "windows" and sys.platform != "win32":
        cmd += [f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(root, 'cmake', 'toolchains', 'windows-cross.cmake')}"]
    if platform == "macos" or sys.platform == "darwin":
        cmd += ["-DZORSCK_BACKEND=apple", "-DCMAKE_OSX_ARCHITECTURES=arm64;x86_64",
                f"-DCMAKE_OSX_DEPLOYMENT_TARGET={MACOS_DEPLOYMENT_TARGET}"]
    if platform == "macos" and sys.platform != "darwin":
        cmd += [f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(root, 'cmake', 'toolchains', 'macos-cross.cmake')}",
                f"-DZORSCK_MACOS_SDK={_macos_sdk()}"]
    _run(cmd)


def _libraries(tmp):
    """([(name in the package, file)], platform tag) of the built libraries, staged in `tmp`."""
    build = os.environ.get("ZORSCK_BUILD_DIR")
    if build and not os.path.isfile(os.path.join(build, "CMakeCache.txt")):
        raise RuntimeError(f"ZORSCK_BUILD_DIR={build} is not a configured CMake build directory "
                           f"(an absolute path: the build runs in {HERE})")
    if not build:
        build = os.path.join(tmp, "build")
        _configure(_project_root(), build)
    cache = _cache(build)
    backend = cache.get("ZORSCK_BACKEND")
    apple, windows = backend == "apple", backend == "windows"
    targets = ["zorsck"] if apple or backend == "sim" else ["zorsck", "zorsck_sim_shared"]
    jobs = [] if "CMAKE_BUILD_PARALLEL_LEVEL" in os.environ else ["--parallel", str(os.cpu_count() or 1)]
    config = ["--config", "Release"] if windows else []  # Visual Studio builds several configurations
    _run(["cmake", "--build", build, "--target", *targets, *config, *jobs])
    stage = os.path.join(tmp, "stage")
    strip = [] if apple or (windows and sys.platform == "win32") else ["--strip"]
    _run(["cmake", "--install", build, "--prefix", stage, "--component", "runtime", *config, *strip])
    # By the name the loader knows them by: the SONAME link on Linux, the file on macOS and Windows.
    pattern = re.compile(r"^zorsck(-sim)?\.dll$" if windows else r"^libzorsck(-sim)?\.dylib$" if apple
                         else r"^libzorsck(-sim)?\.so\.[0-9]+$")
    found = sorted((f"{NAME}/{f}", os.path.join(d, f)) for d, _, files in os.walk(stage) for f in files
                   if pattern.match(f))
    if len(found) != len(targets):
        raise RuntimeError(f"expected {len(targets)} libraries in {stage}, found {[f for f, _ in found]}")
    paths = [p for _, p in found]
    return found, (windows_tag(paths) if windows else _macos_tag(cache) if apple else _linux_tag(paths))


# The wheel platform of a PE image's machine field (IMAGE_FILE_MACHINE_*).
PE_MACHINES = {0x8664: "win_amd64", 0xAA64: "win_arm64", 0x014C: "win32"}


def windows_tag(paths):
    """win_amd64, win_arm64 or win32: the machine the DLLs at `paths` are built for, read from
    their PE headers; RuntimeError when they are no DLLs or disagree."""
    tags = set()
    for path in paths:
        with open(path, "rb") as f:
            head = f.read(4096)
        pe = int.from_bytes(head[0x3C:0x40], "little") if head[:2] == b"MZ" else -1
        machine = int.from_bytes(head[pe + 4:pe + 6], "little") if 0 <= pe <= len(head) - 6 else -1
        if head[pe:pe + 4] != b"PE\0\0" or machine not in PE_MACHINES:
            raise RuntimeError(f"{path} is no Windows DLL of a machine a wheel can name")
        tags.add(PE_MACHINES[machine])
    if len(tags) != 1:
        raise RuntimeError(f"the DLLs are built for different machines: {sorted(tags)}")
    return tags.pop()


def _macos_tag(cache):
    """macosx_<deployment target>_<universal2 or the one architecture> of a build's cache."""
    target = cache.get("CMAKE_OSX_DEPLOYMENT_TARGET") or MACOS_DEPLOYMENT_TARGET
    major, minor = (target.split(".") + ["0"])[:2]
    archs = sorted(cache.get("CMAKE_OSX_ARCHITECTURES", "").split(";"))
    arch = "universal2" if archs == ["arm64", "x86_64"] else archs[0] if len(archs) == 1 else None
    if not arch:
        raise RuntimeError(f"no wheel tag for the architectures {archs}")
    return f"macosx_{major}_{minor}_{arch}"


def _symbol_versions(path):
    """The versions of symbols the ELF library at `path` needs (GLIBC_2.34, GLIBCXX_3.4.30 ...)."""
    try:
        out = subprocess.run(["readelf", "-V", "-W", path], check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        raise RuntimeError(f"readelf (binutils) could not read {path}: {e}") from e
    needs = out.split("Version needs section", 1)[-1] if "Version needs section" in out else ""
    return set(re.findall(r"Name: ((?:GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+)", needs))


def glibc_floor(versions, this_glibc):
    """The oldest glibc 2.N whose distributions run libraries that need the symbol versions
    `versions` (names such as GLIBC_2.34, GLIBCXX_3.4.30); `this_glibc` (this machine's N)
    when they need a newer libstdc++ or libgcc_s than the table knows."""
    need = {}
    for name in versions:
        family, _, number = name.partition("_")
        need[family] = max(need.get(family, ()), tuple(int(p) for p in number.split(".")) + (0, 0))
    glibc = need.get("GLIBC", (2, 17, 0))[1]
    glibcxx, cxxabi = need.get("GLIBCXX", (3, 4, 0))[2], need.get("CXXABI", (1, 3, 0))[2]
    for floor, newest_glibcxx, newest_cxxabi, release in LIBSTDCXX_BESIDE_GLIBC:
        if glibcxx <= newest_glibcxx and cxxabi <= newest_cxxabi and need.get("GCC", ()) <= release:
            return max(glibc, floor)
    return max(glibc, this_glibc)


def _linux_tag(paths):
    """manylinux_2_N_<arch> for the libraries at `paths`, or linux_<arch> without glibc."""
    arch = re.sub(r"[-.]", "_", sysconfig.get_platform().split("-", 1)[1])
    try:
        this = int(os.confstr("CS_GNU_LIBC_VERSION").split()[1].split(".")[1])
    except (ValueError, OSError, IndexError, AttributeError):
        return f"linux_{arch}"
    versions = set().union(*(_symbol_versions(p) for p in paths))
    return f"manylinux_2_{glibc_floor(versions, this)}_{arch}"


def _record_line(arcname, data):
    """One RECORD line: name, sha256 and size."""
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}"


def _entry_points():
    """The entry_points.txt text: the zorsck command."""
    return f"[console_scripts]\n{NAME} = {NAME}.__main__:main\n"


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    """Writes the wheel's .dist-info (without building anything); returns its name."""
    version = _version()
    info = f"{NAME}-{version}.dist-info"
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    for name, text in (("METADATA", _metadata(version)), ("entry_points.txt", _entry_points())):
        with open(os.path.join(metadata_directory, info, name), "w", encoding="utf-8") as f:
            f.write(text)
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    """Builds the libraries and writes the wheel into `wheel_directory`; returns its file name."""
    version = _version()
    with tempfile.TemporaryDirectory(prefix="zorsck-wheel-") as tmp:
        libraries, platform = _libraries(tmp)
        tag = f"py3-none-{platform}"
        name, info, records = f"{NAME}-{version}-{tag}.whl", f"{NAME}-{version}.dist-info", []
        with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as whl:
            def add(arcname, data, mode=0o644):
                entry = zipfile.ZipInfo(arcname, date_time=(2020, 1, 1, 0, 0, 0))
                entry.external_attr, entry.compress_type = mode << 16, zipfile.ZIP_DEFLATED
                whl.writestr(entry, data)
                records.append(_record_line(arcname, data))
            for path in _sources():
                with open(os.path.join(HERE, path), "rb") as f:
                    data = f.read()
                if path == f"{NAME}/_version.py":
                    data = data.replace(b"\nBUILT = None", f"\nBUILT = {version!r}".encode(), 1)
                add(path, data)
            for arcname, path in libraries:
                with open(path, "rb") as f:
                    add(arcname, f.read(), 0o755)
            add(f"{info}/METADATA", _metadata(version).encode())
            add(f"{info}/WHEEL", f"Wheel-Version: 1.0\nGenerator: zorsck_build\nRoot-Is-Purelib: false\n"
                                 f"Tag: {tag}\n".encode())
            add(f"{info}/entry_points.txt", _entry_points().encode())
            record = "\n".join(records + [f"{info}/RECORD,,"]) + "\n"
            whl.writestr(zipfile.ZipInfo(f"{info}/RECORD", date_time=(2020, 1, 1, 0, 0, 0)), record)
    return name


def build_sdist(sdist_directory, config_settings=None):
    """Writes the source archive (the package and the project's build files) into
    `sdist_directory`; returns its file name."""
    version = _version()
    base, root = f"{NAME}-{version}", _project_root()

    def skip(info):
        return None if "__pycache__" in info.name.split("/") else info
    with tarfile.open(os.path.join(sdist_directory, base + ".tar.gz"), "w:gz") as tar:
        for path in ["pyproject.toml", "_build/zorsck_build.py", *_sources()]:
            tar.add(os.path.join(HERE, path), f"{base}/{path}")
        for path in NATIVE:
            tar.add(os.path.join(root, path), f"{base}/native/{path}", filter=skip)
        info, data = tarfile.TarInfo(f"{base}/PKG-INFO"), _metadata(version).encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return base + ".tar.gz"
