"""Builds the pressmark wheel with the project's CMake.

Where the extension comes from, first that applies:
  - PRESSMARK_BUILD_DIR: a configured build tree of the project; its
    extension, library and command are built if needed and packed, the
    library and the command beside the extension;
  - an installed libpressmark that pkg-config finds: the extension alone is
    built against it (python/ configured on its own);
  - otherwise the project around python/ is configured and built (tests and
    benchmarks off) and packed as from a build tree.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, find_packages, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
# The project around python/ (PRESSMARK_SOURCE_DIR when python/ was copied out).
ROOT = pathlib.Path(os.environ.get("PRESSMARK_SOURCE_DIR") or HERE.parent).resolve()


def _project_root():
    top = ROOT / "CMakeLists.txt"
    if top.is_file() and re.search(r"project\(Pressmark\b", top.read_text()):
        return ROOT
    return None


def _installed_version():
    if os.environ.get("PRESSMARK_BUILD_DIR"):
        return None
    try:
        out = subprocess.run(["pkg-config", "--modversion", "pressmark"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return out.stdout.strip() if out.returncode == 0 and out.stdout.strip() else None


def _version():
    root = _project_root()
    if root is not None and (os.environ.get("PRESSMARK_BUILD_DIR") or not _installed_version()):
        m = re.search(r"project\(Pressmark\s+VERSION\s+([0-9.]+)", (root / "CMakeLists.txt").read_text())
        if m:
            return m.group(1)
    v = _installed_version()
    if v:
        return v
    raise SystemExit("pressmark: no libpressmark (pkg-config pressmark) and no project source around python/")


def _run(cmd, **kw):
    print("+", " ".join(str(c) for c in cmd), flush=True)
    subprocess.run([str(c) for c in cmd], check=True, **kw)


class CMakeBuild(build_ext):
    def run(self):
        tmp = pathlib.Path(self.build_temp).resolve()
        stage = tmp / "stage"
        shutil.rmtree(stage, ignore_errors=True)
        jobs = str(os.cpu_count() or 1)
        env = dict(os.environ, DESTDIR=str(stage))
        build_dir = os.environ.get("PRESSMARK_BUILD_DIR")
        python = f"-DPython_EXECUTABLE={sys.executable}"
        if not build_dir and _installed_version():
            cmake_dir = tmp / "cmake-python"
            _run(["cmake", "-S", HERE, "-B", cmake_dir, python, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                  "-DCMAKE_INSTALL_PREFIX=/", "-DPRESSMARK_PYTHON_DIR=site"])
            _run(["cmake", "--build", cmake_dir, "-j", jobs])
            _run(["cmake", "--install", cmake_dir, "--component", "python", "--strip"], env=env)
        else:
            if not build_dir:
                root = _project_root()
                if root is None:
                    raise SystemExit("pressmark: no libpressmark (pkg-config pressmark) and no project source")
                build_dir = tmp / "cmake-project"
                _run(["cmake", "-S", root, "-B", build_dir, python, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                      "-DPRESSMARK_TESTS=OFF", "-DPRESSMARK_BENCH=OFF", "-DPRESSMARK_SANITIZE=OFF"])
            _run(["cmake", "--build", build_dir, "-j", jobs, "--target", "pressmark_python", "pressmark-cli"])
            for component in ("python", "wheel"):
                _run(["cmake", "--install", build_dir, "--component", component, "--strip"], env=env)
        found = sorted(stage.rglob("pressmark/_version.py"))
        if len(found) != 1:
            raise SystemExit(f"pressmark: the CMake install left {len(found)} packages in {stage}")
        site = found[0].parent.parent
        out = pathlib.Path(self.build_lib)
        for path in sorted(site.rglob("*")):
            rel = path.relative_to(site)
            if "__pycache__" in rel.parts:
                continue
            # The library once, under its soname: a wheel holds no symbolic links.
            if path.name.startswith("libpressmark.so") and not re.fullmatch(r"libpressmark\.so\.\d+", path.name):
                continue
            target = out / rel
            if path.is_dir() and not path.is_symlink():
                target.mkdir(parents=True, exist_ok=True)
            else:
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(path, target, follow_symlinks=True)


setup(
    version=_version(),
    package_dir={"": "src"},
    packages=find_packages("src"),
    package_data={"pressmark": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("pressmark._pressmark", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
