"""Builds the package pelk for pip: the compiled module pelk._pelk with
CMake, the package's Python files as they are. Every file of the build goes
to a temporary folder, removed at exit: nothing is written into the source
tree. The version is the project's (CMakeLists.txt)."""
import atexit
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent
SCRATCH = pathlib.Path(tempfile.mkdtemp(prefix="pelk-build-"))
atexit.register(shutil.rmtree, SCRATCH, ignore_errors=True)


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(pelk VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = SCRATCH / "cmake"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build),
                        "-DCMAKE_BUILD_TYPE=Release", "-DPELK_BUILD_TESTS=OFF",
                        "-DPELK_BUILD_BENCH=OFF", "-DPELK_BUILD_PYTHON=ON",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "pelk_python", "-j2"],
                       check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(build / "python" / "pelk" / target.name, target)


setup(version=project_version(),
      ext_modules=[Extension("pelk._pelk", sources=[])],
      cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": str(SCRATCH / "build")},
               "egg_info": {"egg_base": str(SCRATCH)}})
