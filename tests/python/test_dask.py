import os
import signal

import numpy as np
import pytest

import lumasift

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
lumasift_dask = pytest.importorskip("lumasift.dask")
zarr = pytest.importorskip("zarr")


# Chunks larger than the image, with ragged edges, and smaller than the depth.
CHUNKINGS = [(200, 200), (19, 23), (6, 4)]


def images(rng):
    noisy = 100 + 20 * rng.standard_normal((40, 33))
    noisy[3, -5] = np.nan
    return {
        "gray": noisy,
        "rgb": (rng.random((37, 40, 3)) * 255).astype(np.uint8),
        "rgba": (rng.random((30, 41, 4)) * 255).astype(np.uint8),
        "single": (rng.random((40, 38, 2)) + np.arange(40)[:, None, None] / 20).astype(np.float32),
        "flat": np.full((9, 8), 3.0),
    }


def blocks_of(image, chunks):
    return da.from_array(image, chunks=chunks + (1,) * (image.ndim - 2))


def stored_blocks_of(image, chunks):
    """A zarr array's chunks, which the tasks read themselves."""
    return da.from_zarr(zarr.array(image, chunks=chunks + image.shape[2:]))


def test_statistics_are_exact_across_chunks(rng):
    # Blocks side by side, and every third of them on an image with many.
    side_by_side = {"side by side": 60 + 40 * rng.random((400, 380, 2)),
                    "every third": (rng.random((3200, 3000)) * 200 + 20).astype(np.uint8)}
    # Each chunk a task of its own, or chunks counted in ragged groups.
    cases = [(image, chunks, 1) for image in images(rng).values() for chunks in CHUNKINGS]
    cases += [(image, chunks, 200) for image in side_by_side.values() for chunks in [(1000, 704), (97, 333)]]
    with dask.config.set(scheduler="sync"):
        for image, chunks, task_side in cases:
            # Cut from chunks dask computes, or read by the counting tasks.
            for array in (blocks_of(image, chunks), stored_blocks_of(image, chunks)):
                # The texture measures are NaN where there is no noise.
                np.testing.assert_equal(lumasift_dask.image_statistics(array, task_side=task_side),
                                        lumasift.image_statistics(image))
        for image in images(rng).values():
            # What the defaults chose, colour or not.
            for colour in (True, False):
                np.testing.assert_equal(
                    lumasift_dask.imlumasift(blocks_of(image, (19, 23)), return_info=True, colour=colour)[1],
                    lumasift.imlumasift(image, return_info=True, colour=colour)[1])


# Each chunk a task of its own, and chunks smoothed in ragged groups.
@pytest.mark.parametrize("chunks, task_side", zip(CHUNKINGS, [None, 1, 10]))
def test_dask_on_a_cluster_gives_the_whole_array_bits(client, rng, chunks, task_side):
    expected, results = [], []
    for name, image in images(rng).items():
        # A cluster's tasks cost milliseconds each: small chunks on a small gray image alone.
        if chunks[0] < 10:
            if name != "gray":
                continue
            image = image[:16, :15]
        # Shared by the colour image's channels, one per channel otherwise.
        edges = 200.0 * (rng.random(image.shape[:2] if name == "rgb" else image.shape) < 0.1)
        if name == "rgba":
            edges = edges[:, :, :3]  # one for each opponent channel
        for E, x3, x4 in [(None, None, None), (edges, 1.4, 0.3)]:
            expected.append(lumasift.imlumasift(image, E, sigma_near=x3, sigma_far=x4))
            results.append(lumasift_dask.imlumasift(blocks_of(image, chunks), E, sigma_near=x3, sigma_far=x4,
                                                    task_side=task_side))
        # Edges made inside the blocks with a given threshold, the blocks read
        # from a zarr array by the tasks themselves.
        expected.append(lumasift.imlumasift(image, lumasift.lumasift_edges(image, 0.2), sigma_far=0.3))
        results.append(lumasift_dask.imlumasift(stored_blocks_of(image, chunks), None, sigma_far=0.3, threshold=0.2,
                                                task_side=task_side))
    for want, got in zip(expected, dask.compute(*results)):
        assert got.dtype == want.dtype
        assert np.array_equal(got, want, equal_nan=True)


@pytest.mark.parametrize("E, x3, threshold, shape, message", [
    (np.zeros((20, 20)), None, 5.0, (20, 20), "Give edges or the threshold"),
    (None, None, -1.0, (20, 20), "threshold must be"),
    # Refused as lumasift.imlumasift refuses it, before the noise is measured.
    (None, 400.0, None, (2100, 10), "too wide to tile a 2100-by-10 image"),
])
def test_refused_before_any_work(E, x3, threshold, shape, message):
    with dask.config.set(scheduler="sync"), pytest.raises(ValueError, match=message):
        lumasift_dask.imlumasift(da.zeros(shape, chunks=10), E, sigma_near=x3, sigma_far=None, threshold=threshold)


def test_a_killed_worker_costs_time_not_bits(client, rng):
    image = (rng.random((1000, 1000)) * 255).astype(np.uint8)
    J = client.persist(lumasift_dask.imlumasift(da.from_array(image, chunks=125), None, sigma_near=3.0, sigma_far=0.4,
                                                threshold=30.0, task_side=250))
    chunks = distributed.futures_of(J)
    next(distributed.as_completed(chunks))
    # The worker holding the most results, so that some are lost with it.
    holder = max(client.has_what().items(), key=lambda item: len(item[1]))[0]
    pid = client.run(os.getpid, workers=[holder])[holder]
    assert not all(chunk.done() for chunk in chunks), "the run ended before a worker could be killed"
    os.kill(pid, signal.SIGKILL)
    assert np.array_equal(J.compute(), lumasift.imlumasift(image, lumasift.lumasift_edges(image, 30.0),
                                                           sigma_near=3.0, sigma_far=0.4))
    # The nanny's new worker, for the tests after this one.
    client.wait_for_workers(2, timeout=60)
