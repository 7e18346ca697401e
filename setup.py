"""Builds the _csv_vestle_backend extension for pip by driving the CMake project."""

import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
MODULE = "_csv_vestle_backend"

# Type checkers do not read a lone .pyi file beside an extension module in
# site-packages; they find the stubs of an installed module in a stub-only
# package named after it with "-stubs" (PEP 561). The folder stubs/ holds that
# package and is installed as site-packages/_csv_vestle_backend-stubs/.
STUBS_PACKAGE = f"{MODULE}-stubs"
# The command line, pure Python over the module; pyproject.toml declares its console script.
COMMAND_PACKAGE = "csv_vestle"


class CMakeExtension(Extension):
    """An extension whose sources and compile rules live in CMakeLists.txt."""

    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Builds the module target with CMake for the running interpreter."""

    def build_extension(self, ext: Extension) -> None:
        if shutil.which("cmake") is None:
            raise RuntimeError("cmake is required to build csv-vestle (apt-get install cmake g++)")
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        temp = Path(self.build_temp).resolve()
        build_dir, stage_dir = temp / "cmake", temp / "stage"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            f"-DVESTLE_PYTHON={sys.executable}",
            # Passed explicitly so a reused build folder never keeps the
            # cached values of another interpreter.
            f"-DVESTLE_PYTHON_INCLUDE_DIR={sysconfig.get_paths()['include']}",
            f"-DVESTLE_PYTHON_EXT_SUFFIX={suffix}",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DVESTLE_BUILD_TESTS=OFF",
            *shlex.split(os.environ.get("VESTLE_CMAKE_ARGS", "")),
        ]
        jobs = str(self.parallel or os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", ext.name, "-j", jobs],
                       check=True)
        # CMake's own install rule says which file is the module.
        shutil.rmtree(stage_dir, ignore_errors=True)
        subprocess.run(["cmake", "--install", str(build_dir), "--prefix", str(stage_dir)],
                       check=True)

        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(stage_dir / f"{ext.name}{suffix}", target)


setup(
    ext_modules=[CMakeExtension(MODULE)],
    cmdclass={"build_ext": CMakeBuild},
    # Besides the extension: its stub package and the csv_vestle package of the csv-vestle command.
    packages=[STUBS_PACKAGE, COMMAND_PACKAGE],
    package_dir={STUBS_PACKAGE: f"stubs/{STUBS_PACKAGE}", COMMAND_PACKAGE: f"python/{COMMAND_PACKAGE}"},
    package_data={STUBS_PACKAGE: ["__init__.pyi"], COMMAND_PACKAGE: ["py.typed"]},
    py_modules=[],
    # Keeps setuptools out of build/, the CMake folder of scripts/test.sh.
    options={"build": {"build_base": "build-pip"}},
)
