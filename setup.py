# The Python module brix_eli, built by the project's own CMake build and
# nothing else: pip install --no-build-isolation . (offline, with Debian's
# python3-setuptools, python3-pybind11, cmake and ninja) runs CMake for the
# extension's target and puts what it built in the wheel. The sources and
# the flags that fix every result to the bit live in the CMake files alone.
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DBRIX_TESTS=OFF",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_core"], check=True)
        built = next((build / "python" / "brix_eli").glob("_core*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(packages=["brix_eli"], package_dir={"brix_eli": "python/brix_eli"},
      package_data={"brix_eli": ["_core.pyi", "py.typed"]},
      ext_modules=[Extension("brix_eli._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
