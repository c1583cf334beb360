# Builds the extension from the analysis library's sources, with the flags
# of the CMake build that fix every result to the bit.
import glob
import platform

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

sources = ["python/core.cc"] + sorted(
    path for folder in ("analysis", "stats", "numeric", "records")
    for path in glob.glob(f"{folder}/*.cc") if not path.endswith("_test.cc"))
flags = ["-ffp-contract=off", "-fno-fast-math"]
if platform.machine() in ("x86_64", "AMD64"):
    flags.append("-msse4.2")

setup(
    packages=["brix_eli"],
    package_dir={"brix_eli": "python/brix_eli"},
    ext_modules=[Pybind11Extension("brix_eli._core", sources, include_dirs=["."], cxx_std=20,
                                   extra_compile_args=flags)],
)
