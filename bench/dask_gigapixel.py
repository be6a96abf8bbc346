"""A gigapixel from storage to storage in bounded memory, against one in-process call.

A 32768x32768 noisy grey uint8 image (the retina photograph, tiled, with
noise of 15 grey levels) in a zarr store of chunks of 1024 goes through
lumasift.dask.imlumasift on 2 worker processes of 1 thread limited to 1 GB
each, to a zarr store; one in-process call reads the whole store, filters
and writes. The results are compared band by band. Needs about 4 GB of
memory for the in-process call and 3 GB of disk.

    PYTHONPATH=SITE /usr/bin/python3 bench/dask_gigapixel.py PHOTO_DIR
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

SIDE = 32768
CHUNK = 1024
BAND = 4096


def write_image(photo_dir, path):
    retina = np.asarray(Image.open(os.path.join(photo_dir, "retina.jpg")).convert("L"))
    rng = np.random.default_rng(5)
    store = zarr.open(path, mode="w", shape=(SIDE, SIDE), chunks=(CHUNK, CHUNK), dtype=np.uint8)
    across = -(-SIDE // retina.shape[1])
    for row in range(0, SIDE, BAND):
        band = np.tile(retina, (-(-BAND // retina.shape[0]), across))[:BAND, :SIDE].astype(np.float32)
        noisy = band + 15 * rng.standard_normal(band.shape, dtype=np.float32)
        store[row:row + BAND] = np.clip(np.round(noisy), 0, 255).astype(np.uint8)


def main():
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.zarr")
        write_image(sys.argv[1], source)
        start = time.perf_counter()
        result = lumasift.imlumasift(zarr.open(source, mode="r")[...])
        zarr.save_array(os.path.join(folder, "whole.zarr"), result, chunks=(CHUNK, CHUNK))
        whole = time.perf_counter() - start
        del result
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, memory_limit="1GB",
                                      dashboard_address=None) as cluster, distributed.Client(cluster):
            start = time.perf_counter()
            lumasift.dask.imlumasift(da.from_zarr(source)).to_zarr(os.path.join(folder, "out.zarr"))
            chunked = time.perf_counter() - start
        expected, got = (zarr.open(os.path.join(folder, name), mode="r") for name in ("whole.zarr", "out.zarr"))
        same = all(np.array_equal(expected[row:row + BAND], got[row:row + BAND]) for row in range(0, SIDE, BAND))
        print(f"{SIDE}x{SIDE} uint8, chunks of {CHUNK}, {os.cpu_count()} cores: in-process {whole:.1f} s, "
              f"2 workers of 1 GB {chunked:.1f} s ({chunked / whole:.2f}x), "
              f"{'same bits' if same else 'DIFFERENT BITS'}")


if __name__ == "__main__":
    main()
