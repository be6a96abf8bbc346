"""lumasift.dask from storage to storage against one in-process call.

The 24-megapixel noisy photograph of bench/default_path.m in a zarr store,
in chunks of 2000, 1000 and 512: lumasift.dask.imlumasift(da.from_zarr(src))
written with to_zarr on a LocalCluster of 2 worker processes of 1 thread
each, against one in-process call that reads the store, filters and writes;
the statistics pass alone; and at chunks of 1000, 1 worker against 2. One
run each; every result is checked against the in-process bits.

    PYTHONPATH=SITE /usr/bin/python3 bench/dask_bench.py PHOTO_DIR
"""
import os
import sys
import tempfile
import time

import dask.array as da
import distributed
import numpy as np
import zarr
from PIL import Image

import lumasift
import lumasift.dask


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
    print(f"{'x'.join(map(str, I.shape))} uint8, {os.cpu_count()} cores, one run each")
    with tempfile.TemporaryDirectory() as folder:
        expected = None
        for side in (2000, 1000, 512):
            source = os.path.join(folder, f"in{side}.zarr")
            zarr.save_array(source, I, chunks=(side, side, 3))

            def in_process():
                nonlocal expected
                out = lumasift.imlumasift(zarr.open_array(source, mode="r")[...])
                zarr.save_array(os.path.join(folder, "whole.zarr"), out, chunks=(side, side, 3))
                expected = out

            whole = seconds(in_process)
            for workers in ((2, 1) if side == 1000 else (2,)):
                with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                              dashboard_address=None) as cluster, distributed.Client(cluster):
                    target = os.path.join(folder, f"out{side}_{workers}.zarr")
                    statistics = seconds(lambda: lumasift.dask.image_statistics(da.from_zarr(source)))
                    chunked = seconds(lambda: lumasift.dask.imlumasift(da.from_zarr(source)).to_zarr(target))
                same = "same bits" if np.array_equal(zarr.open_array(target, mode="r")[...], expected) else \
                    "DIFFERENT BITS"
                print(f"chunks {side}: in-process {whole:5.2f} s, dask {workers} worker(s) {chunked:5.2f} s "
                      f"({chunked / whole:.2f}x), statistics alone {statistics:5.2f} s "
                      f"({statistics / chunked:.2f}x of the run) ({same})")


if __name__ == "__main__":
    main()
