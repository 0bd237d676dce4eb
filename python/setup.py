# The extension module qvx._qvx: the package's C++ room over the decoding
# core (decode/) and the encoder (encode/) of the repository this folder
# sits in. setuptools takes sources from below this folder only, so the
# core is copied under build/core first.
import os
import shutil
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

here = Path(__file__).resolve().parent
root = here.parent
if not (root / "decode" / "qvx_rows.h").is_file():
    raise SystemExit("qvx: the decoding core is not beside this folder (%s); build from the tavko repository" % root)
os.chdir(here)
copy = Path("build") / "core"
for part in ("decode", "encode"):
    shutil.rmtree(copy / part, ignore_errors=True)
    shutil.copytree(root / part, copy / part)
core = sorted(p.as_posix() for part in ("decode", "encode") for p in (copy / part).glob("*.cpp"))

setup(
    ext_modules=[
        Pybind11Extension(
            "qvx._qvx",
            ["src/module.cpp"] + core,
            include_dirs=[copy.as_posix()],
            cxx_std=17,
        )
    ],
    cmdclass={"build_ext": build_ext},
)
