"""Builds the extensions with the project's own CMake build.

setuptools drives the packaging; CMake (with SWIG and pybind11) builds the
modules exactly as the developers' build does, and the results are copied
into the wheel: the module _korvane with its generated proxy module
korvane.py and that module's type stub, the package pykorvane with its
binding _core, and the C++ core libkorvane that both link.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
# The CMake targets that build the extension modules and the emulated HID
# library (pykorvane.emulator).
MODULE_TARGETS = ["_korvane", "pykorvane_core", "korvane_emu"]


def project_version():
    """The version CMake's project() declares in the top-level CMakeLists.txt,
    its one source (the library, its headers and pykorvane.__version__ take
    it from there too)."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        found = re.search(r"^\s*project\(\s*korvane\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", cmake.read(), re.M)
    if found is None:
        raise RuntimeError("CMakeLists.txt declares no project(korvane VERSION ...)")
    return found.group(1)


VERSION = project_version()


class CMakeExtension(Extension):
    """An extension whose sources CMake knows; setuptools compiles nothing."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = ["cmake", "-S", ROOT, "-B", build_dir,
                     f"-DPython3_EXECUTABLE={sys.executable}",
                     "-DKORVANE_PYTHON=ON", "-DKORVANE_TESTS=OFF",
                     "-DCMAKE_BUILD_TYPE=Release"]
        if shutil.which("ninja") and not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("KORVANE_BUILD_JOBS", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", *MODULE_TARGETS, "-j", jobs],
                       check=True)

        module_dir = os.path.join(build_dir, "korvane")
        libraries = glob.glob(os.path.join(module_dir, "_korvane*.so"))
        proxy = os.path.join(module_dir, "korvane.py")
        if len(libraries) != 1 or not os.path.exists(proxy):
            raise RuntimeError(f"the CMake build left no _korvane module in {module_dir}")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(libraries[0], target)
        shutil.copyfile(proxy, os.path.join(os.path.dirname(target), "korvane.py"))
        # The proxy module's type stub: beside it, as in the build tree, and
        # as the stub-only package korvane-stubs, the form in which mypy
        # finds the stub of an installed single module (no package holds a
        # py.typed marker for it).
        stub = os.path.join(module_dir, "korvane.pyi")
        shutil.copyfile(stub, os.path.join(os.path.dirname(target), "korvane.pyi"))
        os.makedirs(os.path.join(os.path.dirname(target), "korvane-stubs"), exist_ok=True)
        shutil.copyfile(stub, os.path.join(os.path.dirname(target), "korvane-stubs", "__init__.pyi"))
        # The C++ core the module links, under its soname, next to the module
        # (the module finds it through its $ORIGIN run path).
        core = os.path.join(build_dir, "src", "libkorvane.so." + VERSION.split(".")[0])
        shutil.copyfile(os.path.realpath(core), os.path.join(os.path.dirname(target), os.path.basename(core)))
        # The pykorvane package as the build lays it out (its binding finds
        # libkorvane one folder up).
        package = os.path.join(build_dir, "pykorvane", "pykorvane")
        if not glob.glob(os.path.join(package, "_core*.so")):
            raise RuntimeError(f"the CMake build left no pykorvane binding in {package}")
        installed = os.path.join(os.path.dirname(target), "pykorvane")
        shutil.rmtree(installed, ignore_errors=True)
        shutil.copytree(package, installed, ignore=shutil.ignore_patterns("__pycache__"))
        if not os.path.isfile(os.path.join(installed, "emulator", "lib", "libkorvane_emu.so")):
            raise RuntimeError(f"the CMake build left no emulated HID library in {package}/emulator")
        # The emulator's helper also as a top-level module, importable before
        # pykorvane (which binds hidapi when imported); it finds the library
        # in pykorvane/emulator/lib.
        shutil.copyfile(os.path.join(ROOT, "emulator", "python", "korvane_emu.py"),
                        os.path.join(os.path.dirname(target), "korvane_emu.py"))


setup(
    version=VERSION,
    ext_modules=[CMakeExtension("_korvane")],
    cmdclass={"build_ext": CMakeBuild},
    # Keeps setuptools' files apart from the developers' CMake tree in build/.
    options={"build": {"build_base": "build-pip"}},
)
