# Builds lumasift._core from the same C++ sources as the Octave modules, with
# the flags that keep their bits: no fused multiply-add, no fast math.
import os
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

HERE = Path(__file__).resolve().parent


def source_root():
    # The core lives beside this folder in the repository (../filter); an
    # sdist may carry a copy of filter/ inside it instead.
    for root in (HERE, HERE.parent):
        if (root / "filter" / "lumasift.h").is_file():
            return root
    raise RuntimeError("filter/ with the lumasift core not found beside " + str(HERE))


def relative(path):
    # setuptools takes sources relative to this folder only.
    return os.path.relpath(path, HERE)


ROOT = source_root()
core_sources = sorted(relative(path) for path in [*ROOT.glob("filter/*.cpp"), *ROOT.glob("filter/lanes/*.cpp")])
core_headers = sorted(relative(path) for path in [*ROOT.glob("filter/*.h"), *ROOT.glob("filter/lanes/*.h")])

# Two jobs at most by default; LUMASIFT_BUILD_JOBS sets another number.
ParallelCompile("LUMASIFT_BUILD_JOBS", default=2).install()

setup(
    ext_modules=[
        Pybind11Extension(
            "lumasift._core",
            ["lumasift/_core.cpp", *core_sources],
            include_dirs=[relative(ROOT)],
            depends=core_headers,
            cxx_std=17,
            extra_compile_args=["-O3", "-ffp-contract=off", "-fno-fast-math", "-fvisibility=hidden",
                                "-fvisibility-inlines-hidden", "-pthread"],
            extra_link_args=["-pthread"],
        )
    ]
)
