import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

REPOSITORY = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def octave(tmp_path_factory):
    """Runs Octave code with the built modules on the path: run(code, inputs) -> outputs, through .mat files."""
    module_dir = os.environ.get("LUMASIFT_MODULE_DIR")
    octave_cli = shutil.which("octave-cli")
    if not module_dir or not octave_cli:
        pytest.skip("LUMASIFT_MODULE_DIR or octave-cli missing: no Octave module to compare with")
    scipy_io = pytest.importorskip("scipy.io")
    folder = tmp_path_factory.mktemp("octave")

    def run(code, inputs):
        scipy_io.savemat(folder / "in.mat", inputs)
        script = f"addpath('{module_dir}'); load('{folder / 'in.mat'}'); {code}; save('-v7', '{folder / 'out.mat'}');"
        subprocess.run([octave_cli, "--no-gui", "--quiet", "--no-init-file", "--eval", script],
                       check=True, timeout=120, env={**os.environ, "OCTAVE_HISTFILE": "/dev/null"})
        return scipy_io.loadmat(folder / "out.mat", squeeze_me=True)

    return run


@pytest.fixture(scope="session")
def client():
    """A small cluster: two worker processes of one thread, with 1 GiB each."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, memory_limit="1GiB",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.fixture(scope="module")
def rng():
    return np.random.default_rng(16)
