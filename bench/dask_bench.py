"""lumasift.dask from storage to storage against one in-process call.

The 24-megapixel noisy photograph of bench/default_path.m in a zarr store,
in chunks of 2000, 1000 and 512: lumasift.dask.imlumasift(da.from_zarr(src))
written with to_zarr on a LocalCluster of 2 worker processes of 1 thread
each, against one in-process call that reads the store, filters and writes;
the statistics pass alone; each chunking's run against the one of 2000;
and at chunks of 1000, 1 worker against 2. Speed
on this machine wanders between runs, so each is taken ROUNDS times in turn
and the medians compared; every result is checked against the in-process
bits.

    PYTHONPATH=SITE /usr/bin/python3 bench/dask_bench.py PHOTO_DIR
"""
import contextlib
import os
import statistics
import sys
import tempfile
import time

import dask
import dask.array as da
import distributed
import numpy as np
import zarr
from PIL import Image

import lumasift
import lumasift.dask

ROUNDS = 3


def photograph(photo_dir):
    retina = np.asarray(Image.open(os.path.join(photo_dir, "retina.jpg")))
    rng = np.random.default_rng(3)
    tiled = np.tile(retina, (3, 5, 1))[:4000, :6000]
    return np.clip(np.round(tiled + 15.0 * rng.standard_normal(tiled.shape)), 0, 255).astype(np.uint8)


def seconds(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def main():
    I = photograph(sys.argv[1])
    print(f"{'x'.join(map(str, I.shape))} uint8, {os.cpu_count()} cores, medians of {ROUNDS} rounds taken in turn")
    with tempfile.TemporaryDirectory() as folder, contextlib.ExitStack() as stack:
        clients = {}
        for workers in (2, 1):
            cluster = stack.enter_context(distributed.LocalCluster(
                n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None))
            clients[workers] = stack.enter_context(distributed.Client(cluster, set_as_default=False))
        first_run = None
        for side in (2000, 1000, 512):
            source = os.path.join(folder, f"in{side}.zarr")
            zarr.save_array(source, I, chunks=(side, side, 3))
            expected = lumasift.imlumasift(I)

            def in_process():
                out = lumasift.imlumasift(zarr.open_array(source, mode="r")[...])
                zarr.save_array(os.path.join(folder, "whole.zarr"), out, chunks=(side, side, 3))

            def on_cluster(workers):
                target = os.path.join(folder, f"out{side}_{workers}.zarr")
                with dask.config.set(scheduler=clients[workers]):
                    lumasift.dask.imlumasift(da.from_zarr(source)).to_zarr(target, overwrite=True)
                assert np.array_equal(zarr.open_array(target, mode="r")[...], expected), "different bits"

            def statistics_alone():
                with dask.config.set(scheduler=clients[2]):
                    lumasift.dask.image_statistics(da.from_zarr(source))

            runs = {"in-process": in_process, "statistics": statistics_alone, 2: lambda: on_cluster(2)}
            if side == 1000:
                runs[1] = lambda: on_cluster(1)
            times = {name: [] for name in runs}
            for _ in range(ROUNDS):
                for name, run in runs.items():
                    times[name].append(seconds(run))
            t = {name: statistics.median(values) for name, values in times.items()}
            line = (f"chunks {side}: in-process {t['in-process']:5.2f} s, 2 workers {t[2]:5.2f} s "
                    f"({t[2] / t['in-process']:.2f}x), statistics alone {t['statistics']:5.2f} s "
                    f"({t['statistics'] / t[2]:.2f}x of the run)")
            first_run = first_run or t[2]
            line += f", {t[2] / first_run:.2f}x of chunks 2000"
            if 1 in t:
                line += f"; 1 worker {t[1]:5.2f} s (2 workers {t[1] / t[2]:.2f}x faster)"
            print(line + ", same bits", flush=True)


if __name__ == "__main__":
    main()
