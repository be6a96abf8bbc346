"""lumasift on dask arrays of any chunking, with the bits of one call on the whole array.

imlumasift(image, edges, *, sigma_near, ...)  as lumasift.imlumasift, returning a dask array
image_statistics(image, colour)              as lumasift.image_statistics, computed chunk by chunk

Why blocks give the whole image's bits: each block is filtered with its true
neighbours up to the window's reach and one pixel more, and nothing padded at
the image's border, which is the core's own argument for its tiles
(filter/tiles.h). Edges made inside a block need three pixels more of context.
The statistics behind the defaults are counted from what each chunk records
of its blocks, in the steps the core takes on a whole image
(filter/statistics.h), so they have its bits too.
"""

import functools
import itertools
import operator
import threading
from typing import Any, Dict, Optional

import dask
import dask.array as da
import numpy as np
from dask.base import tokenize
from dask.delayed import Delayed
from dask.highlevelgraph import HighLevelGraph

import lumasift
from lumasift import _core

# Pixels a side of a task's share of the image: a few tenths of a second of
# work, against which a task's cost and its halo are small.
TASK_SIDE = 2048


def imlumasift(image: Any, edges: Any = None, *deprecated: Any, sigma_near: lumasift.Widths = None,
               sigma_far: lumasift.Widths = None, threshold: lumasift.Widths = None, colour: bool = True,
               channel_axis: Optional[int] = -1, task_side: Optional[int] = None, return_info: bool = False,
               x3: lumasift.Widths = None, x4: lumasift.Widths = None) -> Any:
    """lumasift.imlumasift on a dask array: the same arguments and defaults, the same bits.

    Parameters
    ----------
    image : dask array, or anything dask.array.asarray takes
        Of any chunking; the channels are brought into one chunk.
    edges : dask array, optional
        As lumasift.imlumasift takes it.
    sigma_near, sigma_far, threshold, colour, channel_axis, return_info, x3, x4
        As in lumasift.imlumasift. Left-out widths and threshold follow the
        whole image's noise, measured here, before the result is built.
    task_side : int, optional
        Each task smooths about task_side by task_side pixels (None:
        TASK_SIDE). Smaller chunks are smoothed in groups, each read with its
        halo in one piece; a chunk of task_side or more is a task of its own.

    Returns
    -------
    smoothed : dask array
        Lazy, of the image's shape and lumasift.imlumasift's dtype, chunked
        by the groups of chunks (``smoothed.rechunk(image.chunks)`` splits
        them again).
    info : lumasift.Info
        With return_info, measured before the result is built.

    Raises
    ------
    TypeError, ValueError
        As lumasift.imlumasift raises them, before any work: the core checks
        stand-ins of the arrays' shapes and dtypes.

    See Also
    --------
    lumasift.imlumasift : the same on one numpy array.
    image_statistics : the statistics behind the defaults, chunk by chunk.

    Notes
    -----
    Each block is smoothed with its true neighbours up to the window's
    reach, so the result has the bits of one call on the whole image. Each
    task runs on one thread of its worker.

    Examples
    --------
    >>> import dask
    >>> import dask.array as da
    >>> import numpy as np
    >>> import lumasift
    >>> import lumasift.dask
    >>> image = np.random.default_rng(3).integers(0, 256, (300, 200), dtype=np.uint8)
    >>> smoothed = lumasift.dask.imlumasift(da.from_array(image, chunks=64), task_side=128)
    >>> with dask.config.set(scheduler="threads"):
    ...     bool(np.array_equal(smoothed.compute(), lumasift.imlumasift(image)))
    True
    """
    moved = lumasift._older_forms("imlumasift", deprecated, ("x3", "x4", "return_info"), {"x3": x3, "x4": x4},
                                  {"sigma_near": sigma_near, "sigma_far": sigma_far, "return_info": return_info})
    near, far, return_info = moved["sigma_near"], moved["sigma_far"], moved["return_info"]
    image = da.asarray(image)
    axis = lumasift._channel_axis(image, channel_axis)
    I = lumasift._channels_last(image, axis)
    E = None if edges is None else lumasift._channels_last(da.asarray(edges), axis)
    task_side = _task_side(task_side)
    # Refused before any work, as lumasift.imlumasift refuses it: the core
    # checks stand-ins of the arrays' shapes and dtypes.
    _core.check("imlumasift", (_stand_in(I), None if E is None else _stand_in(E), near, far, threshold, colour, None))
    dtype = _core.result_dtype(I.dtype)
    channels = I.shape[2] if I.ndim == 3 else 1
    values = {name: None if v is None else [float(x) for x in np.ravel(v)]
              for name, v in (("near", near), ("far", far), ("threshold", threshold))}
    measured = return_info or near is None or far is None or (E is None and threshold is None)
    statistics = image_statistics(I, colour=colour, task_side=task_side) if measured else None
    colour, sets = _core.settled_parameters(
        [_set_statistics(statistics, s) for s in range(_core.COLOUR_CHANNELS)] if measured else None,
        bool(colour) and channels in (3, 4), channels, None if E is not None else values["threshold"],
        values["near"], values["far"])
    depth = _core.block_halo([x for _, x, _ in sets], E is None)
    arrays = [I if I.ndim == 2 else I.rechunk({2: -1})]
    if E is not None:
        arrays.append(_edges_like(E, arrays[0]))
    J = _map_with_halo(functools.partial(_filter_block, settled=(colour, sets)), arrays, depth, dtype, task_side)
    J = lumasift._channels_back(J, axis)
    if not return_info:
        return J
    per_set = {"texture": statistics["texture"], "fine_texture": statistics["fine_texture"],
               "structure": statistics["structure"], "threshold": [t for t, _, _ in sets] if E is None else None,
               "sigma_near": [x for _, x, _ in sets], "sigma_far": [x for _, _, x in sets]}
    count = len(sets)
    return J, lumasift.Info({"basis": _core.opponent_basis() if colour else None,
                             **{name: _info_value(statistics[name], 1) for name in ("noise", "scale")},
                             **{name: _info_value(value, count) for name, value in per_set.items()}})



def _stand_in(array):
    """A numpy array of the dask array's shape and dtype that holds no memory, for the core's checks."""
    return np.broadcast_to(np.zeros((), array.dtype), array.shape)


def _info_value(values, sets):
    """As lumasift.imlumasift's info gives it: None for what was not used (NaN), a float for one set of channels,
    a tuple of one for each."""
    values = tuple(values) if isinstance(values, (tuple, list)) else (values,)
    if all(v is None or np.isnan(v) for v in values):
        return None
    return values[0] if sets == 1 else values


def _task_side(task_side):
    task_side = TASK_SIDE if task_side is None else operator.index(task_side)
    if task_side < 1:
        raise ValueError("task_side must be a positive integer")
    return task_side


def _set_statistics(statistics, s):
    """One set of channels' statistics, from image_statistics's."""
    return {name: value[s] if isinstance(value, tuple) else value for name, value in statistics.items()}


def image_statistics(image: Any, colour: bool = True, *, channel_axis: Optional[int] = -1,
                     task_side: Optional[int] = None) -> Dict[str, Any]:
    """The statistics of lumasift.image_statistics, exactly, chunk by chunk,
    smaller chunks in groups as imlumasift takes them."""
    task_side = _task_side(task_side)
    image = da.asarray(image)
    I = lumasift._channels_last(image, lumasift._channel_axis(image, channel_axis))
    if I.ndim not in (2, 3):
        raise ValueError("image must be an H-by-W or H-by-W-by-C array")
    _core.result_dtype(I.dtype)
    store, stored = _store_key(I), I
    I = I[:, :, np.newaxis] if I.ndim == 2 else I.rechunk({2: -1})
    rows, cols, channels = I.shape
    as_colour = colour and channels in (3, 4)
    if as_colour:
        # The noise of the stored colour channels, alpha left out.
        channels = _core.COLOUR_CHANNELS
    image_range = None
    if I.dtype.kind == "f":
        side = _core.scale_block_side(rows, cols)
        ranges = _per_block(_measure_range, _aligned(I, side), np.float64, side=side)
        image_range = tuple(float(x) for x in dask.compute(ranges[:, :, 0].min(), ranges[:, :, 1].max(),
                                                            ranges[:, :, 2].min(), ranges[:, :, 3].max()))
        scale = _core.scale_of(image_range)
    else:
        scale = _core.class_scale(I.dtype)
    lattice = _core.noise_lattice(rows, cols, channels, I.dtype, image_range)
    views = ["colour" if as_colour else None]
    if as_colour:
        texture_lattice = _core.texture_lattice(rows, cols)
        views += [(texture_lattice, opponent) for opponent in range(_core.COLOUR_CHANNELS)]
    # One pass: each chunk sends what the counting reads of its blocks, a
    # few megabytes for the whole image however large, and the counting
    # runs here, once.
    records = dask.compute(*(_records(I, store, stored, lattice if view in (None, "colour") else view[0], view,
                                      task_side) for view in views))
    statistics = _core.statistics_of_records(np.concatenate(records[0]), scale)
    if not as_colour:
        return statistics
    textures = [_core.texture_of_records(np.concatenate(opponent), statistics) for opponent in records[1:]]
    return {**statistics, **{name: tuple(t[name] for t in textures) for name in ("texture", "fine_texture", "structure")}}


def _records(I, store, stored, lattice, view, task_side):
    """The records of I's blocks on the lattice, a delayed piece per chunk, of
    I's channels as stored (view None), its stored colour channels
    ("colour"), or an opponent channel ((lattice, channel))."""
    # Blocks side by side never straddle chunks that start on whole blocks;
    # overlapping ones, on images too small for more, are read in one piece.
    blocks = _aligned(I, _core.NOISE_BLOCK) if lattice[0] == _core.NOISE_BLOCK else I.rechunk(-1)
    blocks = blocks.rechunk((*(_grouped(blocks.chunks[axis], task_side) for axis in (0, 1)), -1))
    # A zarr array read as it stands is read by the tasks that record it.
    if store is not None and lattice[0] == _core.NOISE_BLOCK:
        name = "lumasift-records-" + tokenize(stored, lattice, view)
        layer = {(name, row, col): (_region_records, store, slice(row, row + height), slice(col, col + width), lattice,
                                    view)
                 for row, height in _chunk_starts(blocks.chunks[0]) for col, width in _chunk_starts(blocks.chunks[1])}
        graph = HighLevelGraph.from_collections(name, layer, dependencies=[stored])
        return [Delayed(key, graph, layer=name) for key in layer]
    return [dask.delayed(_block_records)(block, row, col, lattice, view)
            for block, ((row, _), (col, _)) in zip(blocks.to_delayed().ravel(),
                                                  itertools.product(_chunk_starts(blocks.chunks[0]),
                                                                    _chunk_starts(blocks.chunks[1])))]


def _chunk_starts(chunks):
    """(first index, length) of each of an axis's chunks."""
    return [(int(start), int(length)) for start, length in zip(np.cumsum((0,) + chunks[:-1]), chunks)]


def _per_block(function, blocks, dtype, **arguments):
    """function(block, first row, first column, ...) for every block, a 1-by-1-by-length piece of the result each,
    in dtype."""
    def located(block, block_info=None):
        row, col = (start for start, _ in block_info[0]["array-location"][:2])
        return np.asarray(function(block, row, col, **arguments), dtype)[np.newaxis, np.newaxis]

    sample = np.asarray(function(np.zeros((0, 0, 1), blocks.dtype), 0, 0, **arguments))
    chunks = tuple((1,) * count for count in blocks.numblocks[:2]) + ((len(sample),),)
    return da.map_blocks(located, blocks, chunks=chunks, dtype=dtype)


def _map_with_halo(function, arrays, depth, dtype, task_side):
    """function(*blocks, kept=(first row, rows, first column, columns)) for each
    group of arrays[0]'s chunks (_grouped), which gives the result of the group
    within the blocks; the result is chunked by the groups.

    Each block is its group widened by `depth` pixels of the image down and
    across, as far as the image reaches; the arrays share their chunks. One
    task per group makes the blocks. An array that reads a zarr array as it
    stands is read there, block and halo in one read, so no chunk travels
    between workers. Other arrays' blocks are cut from the chunks they reach,
    taken whole: an overlap's pieces would cost a task each, and a chunk
    crosses to another worker at most once however many neighbours read it.
    """
    first = arrays[0]
    tasks = [_grouped(first.chunks[axis], task_side) for axis in (0, 1)]
    name = "lumasift-" + tokenize(function, depth, task_side, *arrays)
    edges = [np.cumsum((0,) + first.chunks[axis]) for axis in (0, 1)]
    task_edges = [np.cumsum((0,) + tasks[axis]) for axis in (0, 1)]
    trailing = (0,) * (first.ndim - 2)
    stores = [_store_key(array) for array in arrays]
    layer = {}
    for i, j in itertools.product(range(len(tasks[0])), range(len(tasks[1]))):
        row_span, row_chunks, row_cuts, rows = _reach(edges[0], task_edges[0][i:i + 2], depth)
        col_span, col_chunks, col_cuts, cols = _reach(edges[1], task_edges[1][j:j + 2], depth)
        blocks = []
        for array, store in zip(arrays, stores):
            if store is not None:
                blocks.append((_read_block, store, row_span, col_span))
            else:
                chunks = [[(array.name, r, c, *trailing) for c in range(*col_chunks)] for r in range(*row_chunks)]
                blocks.append((_cut_block, row_cuts, col_cuts, chunks))
        kept = tuple(int(n) for n in (rows.start, rows.stop - rows.start, cols.start, cols.stop - cols.start))
        layer[(name, i, j, *trailing)] = (functools.partial(function, kept=kept), *blocks)
    graph = HighLevelGraph.from_collections(name, layer, dependencies=arrays)
    return da.Array(graph, name, (*tasks, *first.chunks[2:]), meta=np.empty((0,) * first.ndim, dtype))


def _grouped(chunks, side):
    """An axis's chunks gathered, in order, into groups of about `side`: a
    chunk joins the group before it while that brings the group nearer to
    side. A halo costs the less the larger its block, and a store's chunk
    decompressed whole for a halo's few rows is shared by the group."""
    groups = []
    for length in chunks:
        if groups and groups[-1] + length / 2 <= side:
            groups[-1] += length
        else:
            groups.append(length)
    return tuple(groups)


def _store_key(array):
    """The key of the zarr array that `array` reads chunk by chunk and does
    nothing more with (da.from_zarr), or None."""
    try:
        import zarr
    except ImportError:  # no zarr array without zarr
        return None
    source = "original-" + array.name
    layers = array.dask.layers
    if len(layers) != 2 or source not in layers:
        return None
    stored = layers[source].get(source)
    if not isinstance(stored, zarr.Array) or stored.shape != array.shape:
        return None
    return source


def _reach(edges, own, depth):
    """For the span own = (start, stop) of an axis whose chunks end at
    edges[1:]: the span widened by `depth` within the axis, the chunks
    (first, end) it meets, the slice each of them gives, and the slice of
    the widened block that is the span."""
    start, stop = max(own[0] - depth, 0), min(own[1] + depth, edges[-1])
    first = max(int(np.searchsorted(edges, start, side="right")) - 1, 0)
    end = min(int(np.searchsorted(edges, stop, side="left")), len(edges) - 1)
    cuts = [slice(max(start - edges[k], 0), min(stop, edges[k + 1]) - edges[k]) for k in range(first, end)]
    return slice(int(start), int(stop)), (first, end), cuts, slice(own[0] - start, own[1] - start)


def _read_block(store, rows, cols):
    return store[rows, cols]


def _cut_block(row_cuts, col_cuts, chunks):
    return np.concatenate([np.concatenate([chunk[r_cut, c_cut] for chunk, c_cut in zip(line, col_cuts)], axis=1)
                           for line, r_cut in zip(chunks, row_cuts)], axis=0)


def _filter_block(block, edges=None, *, settled, kept):
    # Without E, the core's tiles make the edges as they go, with the whole
    # image's threshold: no edge map of the block is ever made. The halo is
    # read, never filtered.
    return _core.smooth_block(block, edges, settled, _worker_threads(), kept)


def _worker_threads():
    """The threads of the core's calls in a task: the task's own.

    A worker's threads (dask's thread pool, or a distributed worker's) each
    run a task of their own at once, so each task runs on its thread alone
    and the worker's cores are shared out without contention. On the
    calling thread (the synchronous scheduler), 0: every core.
    """
    return 0 if threading.current_thread() is threading.main_thread() else 1


def _edges_like(E, I):
    """E chunked as I, with a channel axis where I has one; the core checked its shape."""
    if I.ndim == 3 and E.ndim == 2:
        E = E[:, :, np.newaxis]
    return E.rechunk(I.chunks[:2] + (-1,) * (E.ndim - 2))


def _aligned(I, side):
    """I rechunked so that every chunk starts on a whole block of `side`."""
    chunks = []
    for axis in (0, 1):
        starts = sorted({int(end) // side * side for end in np.cumsum(I.chunks[axis])[:-1]} - {0})
        chunks.append(tuple(np.diff([0, *starts, I.shape[axis]]).tolist()))
    return I.rechunk((*chunks, -1))


# The core's functions, wrapped in the package's own: the workers find these
# by name, where pybind11's would not pickle.
def _measure_range(block, row, col, side):
    return np.array(_core.measure_range(block, side, _worker_threads()))


def _block_records(block, row, col, lattice, view=None):
    if view == "colour":
        return _core.block_records(block[:, :, :_core.COLOUR_CHANNELS], lattice, row, col, _worker_threads())
    opponent = view[1] if isinstance(view, tuple) else None
    return _core.block_records(block, lattice, row, col, _worker_threads(), opponent)


def _region_records(store, rows, cols, lattice, view=None):
    return _block_records(store[rows, cols], rows.start, cols.start, lattice, view)
