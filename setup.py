"""Builds orvane._core with the project's CMake build; pyproject.toml holds the rest.

The module is the CMake target _core (python/CMakeLists.txt), configured with
ORVANE_PYTHON=ON for the interpreter that runs this build, so the package
compiles the same sources with the same flags as the programs.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Orvane VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.check_call([
            "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
            "-DORVANE_PYTHON=ON", "-DORVANE_BUILD_TESTS=OFF",
            "-DPython_EXECUTABLE=" + sys.executable])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_core", "-j", jobs])
        built = next((build / "python").glob("_core*" + Path(self.get_ext_filename("_core")).suffix))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    ext_modules=[Extension("orvane._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Away from build/, the folder of `make`.
    options={"build": {"build_base": "build-python"}},
)
