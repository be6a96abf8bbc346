import os
import signal
import struct
import subprocess
import time
import zlib
from pathlib import Path

import numpy as np
import pytest

import lumasift

Image = pytest.importorskip("PIL.Image")
tifffile = pytest.importorskip("tifffile")
zarr = pytest.importorskip("zarr")
distributed = pytest.importorskip("distributed")

# The package as the tests import it, for the command's own Python.
SITE = str(Path(lumasift.__file__).resolve().parents[1])


def lumasift_command(*args, cwd, **popen):
    command = ["/usr/bin/python3", "-m", "lumasift", *map(str, args)]
    env = {**os.environ, "PYTHONPATH": SITE}
    if popen:
        return subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                text=True, **popen)
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def noisy(rng, shape, dtype):
    ramp = np.add.outer(np.arange(shape[0]), np.arange(shape[1])) / sum(shape[:2])
    if len(shape) == 3:
        ramp = np.stack([np.roll(ramp, 7 * c, axis=1) for c in range(shape[2])], axis=-1)
    top = np.iinfo(dtype).max if dtype != np.float32 else 1
    return np.clip(top * (0.1 + 0.8 * ramp + 0.05 * rng.standard_normal(shape)), 0, top).astype(dtype)


def save(path, pixels, tile=None, planar=False):
    if path.suffix in (".png", ".jpg"):
        Image.fromarray(pixels).save(path, quality=90)
    elif path.suffix == ".tif":
        tifffile.imwrite(path, np.moveaxis(pixels, -1, 0) if planar else pixels, tile=tile and (tile, tile),
                         photometric="rgb" if pixels.ndim == 3 else "minisblack", bigtiff=tile is not None,
                         planarconfig="separate" if planar else None)
    else:
        zarr.save_array(str(path), pixels, chunks=(tile or 16,) * 2 + pixels.shape[2:])


def load(path):
    if path.suffix in (".png", ".jpg"):
        with Image.open(path) as image:
            # Pillow reads 16-bit grey PNG in its 32-bit mode "I".
            return np.asarray(image).astype(np.uint16) if image.mode == "I" else np.asarray(image)
    if path.suffix == ".tif":
        return tifffile.imread(path)
    return zarr.open(str(path), mode="r")[...]


def expected(I, options):
    """The in-process call with the command's options: given a threshold, the edges are lumasift_edges(I, threshold)."""
    colour = "--no-colour" not in options
    options = [option for option in options if option != "--no-colour"]
    given = dict(zip(options[::2], options[1::2]))
    E = lumasift.lumasift_edges(I, float(given["--threshold"]), colour=colour) if "--threshold" in given else None
    # --x3 and --x4 are the older names of --sigma-near and --sigma-far.
    near, far = (given.get(name, given.get(older)) for name, older in WIDTH_OPTIONS)
    J, info = lumasift.imlumasift(I, E, sigma_near=near and float(near), sigma_far=far and float(far),
                                  return_info=True, colour=colour)
    return J, {**info, "threshold": info["threshold"] or float(given.get("--threshold", 0))}


WIDTH_OPTIONS = [("--sigma-near", "--x3"), ("--sigma-far", "--x4")]


def printed(value):
    """A value as the command prints it: one, or one for each opponent channel, a/b/c."""
    return "/".join(f"{v:.6g}" for v in (value if isinstance(value, tuple) else (value,)))


# Input, its pixels (dtype, shape) and how they are stored; output; options.
ROUND_TRIPS = [
    ("in.png", np.uint8, (60, 70), {}, "out.png", []),
    ("in.png", np.uint16, (60, 70), {}, "out.png", ["--threads", "1"]),
    # Nothing left to the defaults, nothing measured nor printed.
    ("in.png", np.uint8, (60, 70, 4), {}, "out.png", ["--x3", "1.5", "--x4", "0.3", "--threshold", "20"]),
    ("in.png", np.uint8, (60, 70, 3), {}, "out.zarr", []),
    ("in.png", np.uint8, (60, 70, 3), {}, "out.png", ["--no-colour"]),
    # Lossy in, but the command filters what it decodes; lossy out, only its class and shape are checked.
    ("in.jpg", np.uint8, (60, 70), {}, "out.tif", []),
    ("in.jpg", np.uint8, (60, 70, 3), {}, "out.jpg", []),
    ("in.tif", np.uint16, (60, 70), {}, "out.png", ["--sigma-far", "0.3"]),
    ("in.tif", np.uint8, (60, 70, 3), {"planar": True}, "out.tif", []),
    ("in.tif", np.float32, (60, 70, 3), {}, "out.tif", []),
    # Chunk by chunk: zarr, and tiled TIFF in and out, over several bands of chunks.
    ("in.zarr", np.uint16, (60, 70, 3), {"tile": 16}, "out.zarr", ["--chunks", "24", "--threshold", "3000",
                                                                        "--sigma-far", "0.3"]),
    ("in.tif", np.uint8, (300, 280, 3), {"tile": 32}, "out.tif", ["--chunks", "64", "--threads", "2"]),
    ("in.tif", np.uint16, (90, 80, 3), {"tile": 16, "planar": True}, "out.zarr", ["--chunks", "32"]),
    ("in.png", np.uint8, (60, 70, 3), {}, "out.png", ["--workers", "2", "--chunks", "20"]),
    ("in.tif", np.uint16, (60, 70), {}, "out.zarr", ["--scheduler", "ADDRESS", "--chunks", "32"]),
]


@pytest.mark.parametrize("source, dtype, shape, storage, target, options", ROUND_TRIPS)
def test_files_keep_their_class_and_get_the_in_process_bits(request, tmp_path, rng, source, dtype, shape, storage,
                                                            target, options):
    I = noisy(rng, shape, dtype)
    save(tmp_path / source, I, **storage)
    if "ADDRESS" in options:
        address = request.getfixturevalue("client").scheduler.address
        options = [address if option == "ADDRESS" else option for option in options]
    run = lumasift_command(source, target, *options, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    if source == "in.jpg":
        I = load(tmp_path / source)
    J, info = expected(I, options)
    result = load(tmp_path / target)
    assert (result.dtype, result.shape) == (I.dtype, I.shape)
    if target != "out.jpg":
        assert np.array_equal(result, J)
    if "--threshold" in options and all({name, older} & set(options) for name, older in WIDTH_OPTIONS):
        assert run.stdout == ""
    else:
        assert all(f"{name} {printed(info[name])}" in run.stdout
                   for name in ("noise", "sigma_near", "sigma_far", "threshold"))
    assert sorted(path.name for path in tmp_path.iterdir()) == sorted([source, target])


class LargestResult(distributed.diagnostics.plugin.SchedulerPlugin):
    """The bytes of the largest piece any task has left in a worker's memory."""

    def __init__(self):
        self.nbytes = 0

    def transition(self, key, start, finish, *args, nbytes=None, **kwargs):
        self.nbytes = max(self.nbytes, nbytes or 0)


@pytest.mark.parametrize("source", ["in.zarr", "in.tif"])
def test_storage_to_storage_on_a_small_cluster_holds_chunks_not_images(client, tmp_path, rng, source):
    """Gigapixels with bounded memory, scaled down: zarr and a lazily read tiled BigTIFF."""
    # Three chunks a side, smoothed two by two: a band of groups is more than a group.
    I, chunk, task_side = noisy(rng, (1300, 1536), np.uint16), 512, 1024
    save(tmp_path / source, I, tile=chunk)
    largest = LargestResult()
    client.cluster.scheduler.add_plugin(largest, name="largest-result")
    try:
        run = lumasift_command(source, "out.zarr", "--scheduler", client.scheduler.address, "--chunks", chunk,
                               "--task-side", task_side, cwd=tmp_path)
    finally:
        client.cluster.scheduler.remove_plugin("largest-result")
    assert run.returncode == 0, run.stderr
    assert np.array_equal(load(tmp_path / "out.zarr"), lumasift.imlumasift(I))
    # A group of chunks, or the statistics' counts; never a band of groups.
    assert 0 < largest.nbytes < 1.25 * task_side**2 * I.itemsize


def png_rgb16(path, pixels):
    """A 16-bit colour PNG, which Pillow cannot write."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + row.astype(">u2").tobytes() for row in pixels)
    header = struct.pack(">IIBBBBB", pixels.shape[1], pixels.shape[0], 16, 2, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                     + chunk(b"IEND", b""))


def corrupt_tiff(path, pixels):
    """A tiled TIFF whose last tile does not decode."""
    tifffile.imwrite(path, pixels, tile=(16, 16), compression="zlib")
    with tifffile.TiffFile(path) as tiff:
        offset, count = tiff.pages[0].dataoffsets[-1], tiff.pages[0].databytecounts[-1]
    with open(path, "r+b") as file:
        file.seek(offset)
        file.write(b"\xff" * count)


@pytest.fixture(scope="module")
def bad_inputs(tmp_path_factory, rng):
    folder = tmp_path_factory.mktemp("bad")
    (folder / "text.png").write_text("not an image\n")
    (folder / "folder.zarr").mkdir()
    zarr.save_array(str(folder / "complex.zarr"), np.zeros((8, 8), complex))
    zarr.save_array(str(folder / "4d.zarr"), np.zeros((2, 2, 8, 8)))
    tifffile.imwrite(folder / "half.tif", np.zeros((8, 8), np.float16))
    tifffile.imwrite(folder / "pages.tif", np.zeros((2, 3, 8, 8), np.uint8))
    corrupt_tiff(folder / "corrupt.tif", noisy(rng, (64, 64), np.uint8))
    png_rgb16(folder / "rgb16.png", noisy(rng, (8, 9, 3), np.uint16))
    save(folder / "rgb16.tif", noisy(rng, (8, 9, 3), np.uint16))
    save(folder / "grey.png", noisy(rng, (8, 9), np.uint8))
    save(folder / "wide.zarr", noisy(rng, (2049, 3), np.uint8))
    return folder


BAD_RUNS = [
    (["missing.png", "out.png"], "missing.png: No such file"),
    (["text.png", "out.png"], "cannot identify image file"),
    (["half.tif", "out.tif"], "float16 pixels"),
    (["complex.zarr", "out.zarr"], "complex128 pixels"),
    (["4d.zarr", "out.zarr"], "4-D array"),
    (["pages.tif", "out.tif"], "a TIFF of axes"),
    (["corrupt.tif", "out.tif"], "corrupt.tif: error: Error -3 while decompressing"),
    (["rgb16.png", "out.tif"], "16-bit colour PNG"),
    (["grey.png", "out.bmp"], "unknown output format .bmp"),
    (["rgb16.tif", "out.png"], "PNG holds"),
    (["grey.png", "no/out.png"], "no folder"),
    (["grey.png", "folder.zarr"], "not a zarr array; not replaced"),
    (["wide.zarr", "out.zarr", "--sigma-near", "400"], "too wide to tile a 2049-by-3 image"),
    (["grey.png", "out.png", "--threshold", "abc"], "--threshold: abc is not a positive finite number"),
    (["grey.png", "out.png", "--chunks", "0"], "--chunks: 0 is not a positive integer"),
    (["grey.png", "out.png", "--threads", "-1"], "--threads: -1 is not a non-negative integer"),
]


@pytest.mark.parametrize("args, message", BAD_RUNS, ids=[" ".join(args) for args, _ in BAD_RUNS])
def test_a_bad_run_says_why_in_one_line_and_leaves_nothing(bad_inputs, args, message):
    before = sorted(bad_inputs.iterdir())
    run = lumasift_command(*args, cwd=bad_inputs)
    assert run.returncode != 0
    assert run.stderr.startswith("lumasift: ") and run.stderr.count("\n") == 1, run.stderr
    assert message in run.stderr
    assert sorted(bad_inputs.iterdir()) == before


@pytest.mark.parametrize("options", [[], ["--workers", "2"]])
def test_ctrl_c_removes_the_partial_output(tmp_path, rng, options):
    save(tmp_path / "in.zarr", noisy(rng, (800, 800), np.uint8), tile=100)
    # Wide windows on small chunks: far longer than the wait for the first chunk.
    run = lumasift_command("in.zarr", "out.zarr", "--sigma-near", "8", "--sigma-far", "1", "--threshold", "30",
                           "--chunks", "100", "--task-side", "200", *options, cwd=tmp_path, start_new_session=True)
    partial = f".out.zarr.partial-{run.pid}"
    deadline = time.monotonic() + 60
    while not any((tmp_path / partial).glob("[0-9]*")) and run.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    assert run.poll() is None, "the run ended before it could be interrupted"
    # As a terminal sends it: to the command and the cluster's workers alike.
    os.killpg(run.pid, signal.SIGINT)
    stderr = run.communicate(timeout=60)[1]
    assert run.returncode == 130, stderr
    assert stderr.splitlines()[-1:] == ["lumasift: interrupted; no output written"]
    assert sorted(path.name for path in tmp_path.iterdir()) == ["in.zarr"]
