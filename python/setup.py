"""Builds the module pelk for pip: configures the source tree with CMake,
builds only the module's target, and places it with its stubs."""
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build),
                        "-DCMAKE_BUILD_TYPE=Release", "-DPELK_BUILD_TESTS=OFF",
                        "-DPELK_BUILD_BENCH=OFF", "-DPELK_BUILD_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "pelk_python", "-j2"],
                       check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(build / "python" / target.name, target)
        shutil.copy(SOURCE / "python" / "pelk.pyi", target.parent / "pelk.pyi")


setup(ext_modules=[Extension("pelk", sources=[])], cmdclass={"build_ext": CMakeBuild})
