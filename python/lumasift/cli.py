"""lumasift INPUT OUTPUT (or python3 -m lumasift): an image filtered from storage to storage.

Pillow, tifffile, zarr and dask are imported only where a run needs them: the
package itself needs numpy alone.
"""

import argparse
import contextlib
import math
import os
import shutil
import signal
import sys

import numpy as np

import lumasift
from lumasift import _core

# An image over this share of the machine's memory is filtered chunk by chunk.
MEMORY_SHARE = 8
# TIFF tiles are a multiple of 16 a side.
TIFF_TILE = 256
TIFF_MAGIC = (b"II*\0", b"MM\0*", b"II+\0", b"MM\0+")
FORMATS = {".png": "PNG", ".jpg": "JPEG", ".jpeg": "JPEG", ".tif": "TIFF", ".tiff": "TIFF", ".zarr": "zarr"}
# What Pillow writes: (dtype, channels) -> mode.
PILLOW_MODES = {
    "PNG": {("uint8", 1): "L", ("uint8", 2): "LA", ("uint8", 3): "RGB", ("uint8", 4): "RGBA", ("uint16", 1): "I;16"},
    "JPEG": {("uint8", 1): "L", ("uint8", 3): "RGB"},
}

EXAMPLES = """examples:
  lumasift noisy.png smoothed.png
  lumasift scan.tif smoothed.tif --sigma-far 0.3 --chunks 2048 --workers 2
  lumasift photo.zarr smoothed.zarr --threshold 12 --scheduler tcp://127.0.0.1:8786

PNG and JPEG (8-bit, and 16-bit grey PNG) are read whole; zarr arrays and
tiled TIFFs chunk by chunk. JPEG is written at quality 95.
"""


class CommandError(Exception):
    """A bad input, output or option: one line on stderr."""


class OneLineParser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(2, f"lumasift: {message} (see --help)\n")


def argument_parser():
    parser = OneLineParser(
        prog="lumasift", formatter_class=argparse.RawDescriptionHelpFormatter, epilog=EXAMPLES,
        description=f"""Edge-aware smoothing of an image file or zarr array into another of the
same class and shape. Left-out parameters follow the image's noise, as in
lumasift.imlumasift; what they chose is printed. Images over 1/{MEMORY_SHARE} of the
memory, zarr arrays, tiled TIFFs and runs on a cluster go through
lumasift.dask, chunk by chunk, with the same bits.""")
    parser.add_argument("input", metavar="INPUT", help="a PNG, JPEG or TIFF file, or a zarr array (a directory)")
    parser.add_argument("output", metavar="OUTPUT",
                        help="its format follows the extension: .png, .jpg/.jpeg, .tif/.tiff or .zarr")
    # --x3 and --x4: the older names, as the definition's call names the widths.
    parser.add_argument("--sigma-near", "--x3", type=positive_number, metavar="X",
                        help="the width in front of edges, which sets the window")
    parser.add_argument("--sigma-far", "--x4", type=positive_number, metavar="Y",
                        help="the width on and behind edges")
    parser.add_argument("--threshold", type=positive_number, metavar="T", help="the edge threshold, in the image's units")
    parser.add_argument("--no-colour", dest="colour", action="store_false",
                        help="smooth three or four channels apart, not as colour (for bands or slices)")
    parser.add_argument("--threads", type=non_negative_integer, default=0, metavar="N",
                        help="threads to run on: the call's, dask's local pool's, or each worker's with --workers "
                             "(default 0: every core, one thread per worker)")
    parser.add_argument("--chunks", type=positive_integer, default=1024, metavar="N",
                        help="square chunks of N pixels, the channels in one, as read and written "
                             "(default %(default)s)")
    parser.add_argument("--task-side", type=positive_integer, metavar="N",
                        help="smooth smaller chunks in groups of about N by N pixels a task "
                             "(default lumasift.dask.TASK_SIDE, 2048)")
    cluster = parser.add_mutually_exclusive_group()
    cluster.add_argument("--workers", type=positive_integer, metavar="N",
                         help="start a local cluster of N worker processes of one thread each")
    cluster.add_argument("--scheduler", metavar="ADDRESS", help="use the running dask cluster at ADDRESS")
    return parser


def positive_number(text):
    return checked_option(text, float, lambda value: math.isfinite(value) and value > 0, "a positive finite number")


def positive_integer(text):
    return checked_option(text, int, lambda value: value > 0, "a positive integer")


def non_negative_integer(text):
    return checked_option(text, int, lambda value: value >= 0, "a non-negative integer")


def checked_option(text, kind, valid, what):
    try:
        value = kind(text)
    except ValueError:
        value = None
    if value is None or not valid(value):
        raise argparse.ArgumentTypeError(f"{text} is not {what}")
    return value


def main(argv=None):
    args = argument_parser().parse_args(argv)
    # A Ctrl-C may surface as another error (a lock left half-released in a
    # waiting thread): once one came, the run counts as interrupted.
    interrupts = []

    def interrupt(signum, frame):
        interrupts.append(signum)
        raise KeyboardInterrupt

    if signal.getsignal(signal.SIGINT) is signal.default_int_handler:
        signal.signal(signal.SIGINT, interrupt)
    try:
        run(args)
        return 0
    except KeyboardInterrupt:
        interrupts.append(signal.SIGINT)
    except CommandError as error:
        message = str(error)
    except OSError as error:
        message = f"{error.filename}: {error.strerror}" if error.filename and error.strerror else str(error)
    except Exception as error:
        # A corrupt tile or a lost cluster is met mid-run, far from any check:
        # it too is one line, named by its type.
        message = f"{args.input}: {type(error).__name__}: {error}"
    if interrupts:
        print("lumasift: interrupted; no output written", file=sys.stderr)
        return 130
    print("lumasift: " + " ".join(message.split()), file=sys.stderr)
    return 1


def run(args):
    output_format = format_of(args.output)
    image = open_input(args.input, args.chunks)
    if image.ndim not in (2, 3):
        raise CommandError(f"{args.input}: a {image.ndim}-D array of shape {image.shape}; "
                           "lumasift takes an H-by-W or H-by-W-by-C image")
    # The core reads native byte order only; zarr and TIFF store either.
    image = image.astype(image.dtype.newbyteorder("="), copy=False)
    try:
        result_dtype = _core.result_dtype(image.dtype)
    except TypeError:
        raise CommandError(f"{args.input}: {image.dtype} pixels; lumasift takes real numbers or booleans") from None
    check_writable(args.output, output_format, result_dtype, image.shape)
    chunked = (not isinstance(image, np.ndarray) or args.workers or args.scheduler
               or image.nbytes > os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") // MEMORY_SHARE)
    with partial_output(args.output) as temporary, \
            dask_scheduler(args) if chunked else contextlib.nullcontext() as compute:
        J, info = smooth(image, args, chunked)
        if info:
            given = {name for name in PRINTED if getattr(args, name) is not None}
            print(f"lumasift: {args.input}: noise {info['noise']:.6g}, "
                  + ", ".join(f"{name} {values_text(info[name])}" + (" (given)" if name in given else "")
                              for name in PRINTED), flush=True)
        write(J, temporary, output_format, args.chunks, compute)


# What the run prints of what the defaults chose, or of what was given.
PRINTED = ("sigma_near", "sigma_far", "threshold")


def values_text(value):
    """One value, or one for each opponent channel of a colour image."""
    return "/".join(f"{v:.6g}" for v in (value if isinstance(value, tuple) else (value,)))


def smooth(image, args, chunked):
    """The result and, where the defaults chose anything, the info they chose it from."""
    # The noise costs a pass over the image, worth it only for a default.
    measure = None in (args.sigma_near, args.sigma_far, args.threshold)
    try:
        if chunked:
            import dask.array as da
            from lumasift.dask import imlumasift as dask_imlumasift

            result = dask_imlumasift(da.asarray(image, chunks=chunk_shape(image.shape, args.chunks)), None,
                                     sigma_near=args.sigma_near, sigma_far=args.sigma_far, threshold=args.threshold,
                                     return_info=measure, colour=args.colour, task_side=args.task_side)
        else:
            result = lumasift.imlumasift(image, None, sigma_near=args.sigma_near, sigma_far=args.sigma_far,
                                         threshold=args.threshold, colour=args.colour, threads=args.threads,
                                         return_info=measure)
    except ValueError as error:
        raise CommandError(error) from None
    if not measure:
        return result, None
    J, info = result
    return J, {**info, "threshold": args.threshold or info["threshold"]}


def chunk_shape(shape, side):
    """Square chunks of side, no larger than the image (zarr stores whole chunks), the channels in one."""
    return tuple(max(1, min(side, length)) for length in shape[:2]) + (-1,) * (len(shape) - 2)


# Reading.

def open_input(path, chunk):
    """The image: a numpy array, or a dask array where it is read chunk by chunk (zarr, tiled TIFF)."""
    if os.path.isdir(path):
        return open_zarr(path, chunk)
    with open(path, "rb") as file:
        is_tiff = file.read(4) in TIFF_MAGIC
    return open_tiff(path, chunk) if is_tiff else open_pillow(path)


def open_zarr(path, chunk):
    import dask.array as da
    import zarr

    try:
        array = zarr.open(path, mode="r")
    except zarr.errors.PathNotFoundError:
        raise CommandError(f"{path}: not a zarr array") from None
    if not isinstance(array, zarr.Array):
        raise CommandError(f"{path}: a zarr group; name the array inside it, as {path}/NAME")
    return da.from_zarr(array, chunks=chunk_shape(array.shape, chunk))


class TiffRegions:
    """The first image of a TIFF, read region by region through tifffile's zarr interface.

    The file is opened for each region, so the reader pickles to a cluster's workers.
    """

    def __init__(self, path, shape, dtype):
        self.path, self.shape, self.dtype, self.ndim = os.path.abspath(path), shape, dtype, len(shape)

    def __getitem__(self, index):
        import tifffile
        import zarr

        with tifffile.TiffFile(self.path) as tiff, tiff.series[0].aszarr(level=0) as store:
            return zarr.open(store, mode="r")[index]


def open_tiff(path, chunk):
    import tifffile

    try:
        with tifffile.TiffFile(path) as tiff:
            series = tiff.series[0]
            if series.axes not in ("YX", "YXS", "SYX"):
                raise CommandError(f"{path}: a TIFF of axes {series.axes} and shape {series.shape}; "
                                   "lumasift takes one image of rows, columns and samples")
            planar = series.axes == "SYX"
            if not series.keyframe.is_tiled:
                pixels = series.asarray()
                return np.moveaxis(pixels, 0, -1) if planar else pixels
            shape, dtype = series.shape, series.dtype
    except tifffile.TiffFileError as error:
        raise CommandError(f"{path}: {error}") from None
    import dask.array as da

    # Samples stored plane by plane are read whole, as the filter takes them.
    chunks = chunk_shape(shape[1:] + shape[:1] if planar else shape, chunk)
    pixels = da.from_array(TiffRegions(path, shape, dtype), chunks=chunks[-1:] + chunks[:2] if planar else chunks,
                           name=False, meta=np.empty((0,) * len(shape), dtype))
    return da.moveaxis(pixels, 0, -1) if planar else pixels


def open_pillow(path):
    from PIL import Image

    # The user names the file: a large one is work, not an attack.
    Image.MAX_IMAGE_PIXELS = None
    with Image.open(path) as image:
        if image.format == "PNG":
            check_png_depth(path)
        # Palettes are filtered as colours, bilevel images as 8-bit grey.
        conversions = {"P": "RGBA" if "transparency" in image.info else "RGB", "PA": "RGBA", "1": "L"}
        mode = conversions.get(image.mode, image.mode)
        pixels = np.asarray(image.convert(mode) if mode != image.mode else image)
    # Pillow's mode for 16-bit grey PNG is 32-bit.
    return pixels.astype(np.uint16) if image.format == "PNG" and image.mode == "I" else pixels


def check_png_depth(path):
    with open(path, "rb") as file:
        header = file.read(26)
    bit_depth, colour_type = header[24], header[25]
    if bit_depth == 16 and colour_type != 0:
        raise CommandError(f"{path}: a 16-bit colour PNG, of which Pillow reads only the upper 8 bits; "
                           "convert it to TIFF first")


# Writing.

def format_of(path):
    extension = os.path.splitext(path.rstrip("/"))[1].lower()
    if extension not in FORMATS:
        raise CommandError(f"{path}: unknown output format {extension or '(no extension)'}; "
                           "use .png, .jpg, .jpeg, .tif, .tiff or .zarr")
    return FORMATS[extension]


def check_writable(path, output_format, dtype, shape):
    channels = shape[2] if len(shape) == 3 else 1
    if output_format in PILLOW_MODES and (dtype.name, channels) not in PILLOW_MODES[output_format]:
        holds = ", ".join(f"{count}-channel {name}" for name, count in PILLOW_MODES[output_format])
        raise CommandError(f"{path}: {output_format} holds {holds}, not {channels}-channel {dtype}; "
                           "write .tif or .zarr")
    if os.path.isdir(path) and not os.path.isfile(os.path.join(path, ".zarray")):
        raise CommandError(f"{path}: a directory that is not a zarr array; not replaced")
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise CommandError(f"{path}: no folder {folder} to write it in")


@contextlib.contextmanager
def partial_output(path):
    """A name beside path to write to, moved onto path when the block ends well and removed otherwise."""
    folder, name = os.path.split(os.path.abspath(path))
    temporary = os.path.join(folder, f".{name}.partial-{os.getpid()}")
    try:
        yield temporary
        if os.path.isdir(path):
            # A directory cannot be replaced in one step: the old one is moved aside first.
            aside = os.path.join(folder, f".{name}.old-{os.getpid()}")
            os.replace(path, aside)
            os.replace(temporary, path)
            shutil.rmtree(aside)
        else:
            os.replace(temporary, path)
    finally:
        if os.path.isdir(temporary):
            shutil.rmtree(temporary, ignore_errors=True)
        elif os.path.lexists(temporary):
            os.remove(temporary)


def write(J, path, output_format, chunk, compute=None):
    """J, a numpy array or, with compute, a dask array, into path in output_format."""
    if output_format == "zarr":
        if compute is None:
            import zarr
            zarr.save_array(path, J, chunks=chunk_shape(J.shape, chunk))
        else:
            import dask.array as da
            import zarr
            target = zarr.open_array(path, mode="w", shape=J.shape, chunks=chunk_shape(J.shape, chunk), dtype=J.dtype)
            # Groups of whole chunks are written by the tasks that make them:
            # no two tasks share a chunk of the store, and none is split off.
            whole = all(length % side == 0 for axis, side in enumerate(target.chunks[:2])
                        for length in J.chunks[axis][:-1])
            compute(da.store(J if whole else J.rechunk(target.chunks), target, lock=False, compute=False))
    elif output_format == "TIFF":
        import tifffile
        layout = {"photometric": "rgb" if J.ndim == 3 and J.shape[2] in (3, 4) else "minisblack",
                  "planarconfig": "contig" if J.ndim == 3 else None}
        if compute is None:
            tifffile.imwrite(path, J, **layout)
        else:
            # Tiled, as a later run reads it chunk by chunk.
            tifffile.imwrite(path, tiff_tiles(J, compute), shape=J.shape, dtype=J.dtype, tile=(TIFF_TILE, TIFF_TILE),
                             **layout)
    else:
        from PIL import Image
        pixels = np.ascontiguousarray(J if compute is None else compute(J))
        channels = pixels.shape[2] if pixels.ndim == 3 else 1
        mode = PILLOW_MODES[output_format][(pixels.dtype.name, channels)]
        Image.fromarray(pixels, mode).save(path, format=output_format,
                                           **({"quality": 95} if output_format == "JPEG" else {}))


def tiff_tiles(J, compute):
    """J's TIFF tiles, row of tiles after row of tiles, computing each row of J's chunks once."""
    pending = np.empty((0,) + J.shape[1:], J.dtype)
    for band in range(J.numblocks[0]):
        pending = np.concatenate([pending, compute(J.blocks[band])])
        last = band == J.numblocks[0] - 1
        while len(pending) >= TIFF_TILE or (last and len(pending)):
            rows, pending = pending[:TIFF_TILE], pending[TIFF_TILE:]
            for start in range(0, J.shape[1], TIFF_TILE):
                yield rows[:, start:start + TIFF_TILE]


@contextlib.contextmanager
def dask_scheduler(args):
    """compute(collection) on the cluster or on local threads, with dask's progress bar on a terminal."""
    import dask

    show_progress = sys.stdout.isatty()
    if args.workers or args.scheduler:
        import distributed

        with contextlib.ExitStack() as stack:
            if args.workers:
                # Ctrl-C reaches the whole process group: the workers, started
                # ignoring it, leave stopping them to this process.
                previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
                try:
                    cluster = stack.enter_context(distributed.LocalCluster(
                        n_workers=args.workers, threads_per_worker=args.threads or 1, dashboard_address=None))
                finally:
                    signal.signal(signal.SIGINT, previous)
                client = stack.enter_context(distributed.Client(cluster))
            else:
                client = stack.enter_context(distributed.Client(args.scheduler))

            def compute(collection):
                future = client.compute(collection)
                try:
                    if show_progress:
                        distributed.progress(future)
                    return future.result()
                except BaseException:
                    future.cancel()
                    raise

            yield compute
        return

    from concurrent.futures import ThreadPoolExecutor
    from dask.diagnostics import ProgressBar

    # A pool of our own: leaving it waits for the tasks in flight, so that
    # none writes into an output that was removed after a failure.
    with ThreadPoolExecutor(args.threads or os.cpu_count()) as pool, \
            dask.config.set(pool=pool, scheduler="threads"):
        def compute(collection):
            with ProgressBar() if show_progress else contextlib.nullcontext():
                return dask.compute(collection)[0]

        yield compute
