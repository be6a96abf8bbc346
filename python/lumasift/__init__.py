"""Edge-aware smoothing: a Gaussian mean that does not cross edges.

=====================  ======================================================
``imlumasift``         images of any size, dtype and colour, with defaults
                       that follow the image's noise and texture
``lumasift_edges``     the edge map, made from the image itself
``image_statistics``   the noise, scale and texture behind the defaults
``lumasift``           the filter itself, as the Octave and MATLAB module
                       calls it, on a float64 image of at most 1000 by 1000
=====================  ======================================================

``lumasift.dask.imlumasift`` smooths dask arrays of any chunking with the same
bits, and the ``lumasift`` command (``python3 -m lumasift``) image files and
zarr arrays. The method, its defaults and why its results are exact:
docs/method.md.

Arrays are indexed as in MATLAB and Octave: ``I[r, c]`` is ``I(r+1, c+1)``.
``imlumasift`` and ``lumasift_edges`` read arrays of any layout in place (C or
Fortran order, strided views, negative strides) and return results in the
input's layout. Ctrl-C stops a long call with KeyboardInterrupt.

Examples
--------
>>> import numpy as np
>>> import lumasift
>>> rng = np.random.default_rng(0)
>>> clean = np.kron([[60, 200], [200, 60]], np.ones((32, 32))).astype(np.uint8)
>>> noisy = np.clip(clean + rng.normal(0, 12, clean.shape), 0, 255).astype(np.uint8)
>>> smoothed = lumasift.imlumasift(noisy)
>>> smoothed.dtype, smoothed.shape
(dtype('uint8'), (64, 64))
>>> bool(np.abs(smoothed - clean.astype(float)).mean() < np.abs(noisy - clean.astype(float)).mean())
True
"""

from __future__ import annotations

import operator
import warnings
from typing import Any, Dict, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _core

__version__ = "0.4.0"
__all__ = ["lumasift", "imlumasift", "lumasift_edges", "image_statistics", "WIDEST_TILED_REACH"]

# The widest half-width trunc(3*sigma_near + 1) that an image larger than
# one tile may be smoothed with.
WIDEST_TILED_REACH = _core.WIDEST_TILED_REACH

# One value, or one for each opponent channel of a colour image.
Widths = Union[float, Sequence[float], np.ndarray, None]
Result = Union[np.ndarray, Tuple[np.ndarray, Dict[str, Any]]]

# The names the widths had before, as the definition's call names them.
_OLDER_NAMES = {"x3": "sigma_near", "x4": "sigma_far"}


class Info(dict):
    """What a call used (``return_info=True``): a dict whose keys x3 and x4,
    the older names of sigma_near and sigma_far, still read, with a
    DeprecationWarning."""

    def __missing__(self, key):
        if key in _OLDER_NAMES:
            warnings.warn(f"info[{key!r}] is now info[{_OLDER_NAMES[key]!r}]; {key!r} goes in the next release",
                          DeprecationWarning, stacklevel=2)
            return self[_OLDER_NAMES[key]]
        raise KeyError(key)


def _info(info):
    return Info({_OLDER_NAMES.get(name, name): value for name, value in info.items()})


def _older_forms(function, positional, order, older_keywords, current):
    """current (a dict of the new keywords) with what was given as `function`
    took it before: by position after the image and edges, in `order`, or
    by the older names; each with a DeprecationWarning."""
    if len(positional) > len(order):
        raise TypeError(f"{function}() takes at most {2 + len(order)} positional arguments "
                        f"({2 + len(positional)} given)")
    moved = dict(current)
    for name, value in zip(order, positional):
        new = _OLDER_NAMES.get(name, name)
        if current[new] not in (None, False):
            raise TypeError(f"{function}(): give {new} once, not also by position")
        warnings.warn(f"{function}(): give {new}= by keyword; {name} by position goes in the next release",
                      DeprecationWarning, stacklevel=3)
        moved[new] = value
    for name, value in older_keywords.items():
        if value is None:
            continue
        new = _OLDER_NAMES[name]
        if current[new] is not None or name in order[:len(positional)]:
            raise TypeError(f"{function}(): give {new} once, not also as {name}")
        warnings.warn(f"{function}(): {name}= is now {new}=; {name} goes in the next release",
                      DeprecationWarning, stacklevel=3)
        moved[new] = value
    return moved


def _channel_axis(image, channel_axis):
    """Where a 3-D image's channels are, as a non-negative axis, or None for
    any other image, which is passed on as it stands."""
    if np.ndim(image) != 3:
        return None
    if channel_axis is None:
        raise ValueError("channel_axis=None is for a grey (2-D) image; this one has 3 dimensions")
    axis = operator.index(channel_axis)
    if not -3 <= axis < 3:
        raise np.AxisError(axis, 3, "channel_axis")
    return axis % 3


def _channels_last(array, axis):
    """A view of array with its channels last (no copy, so the same bits);
    numpy's moveaxis keeps a dask array lazy."""
    return array if axis is None or np.ndim(array) != 3 else np.moveaxis(array, axis, -1)


def _channels_back(result, axis):
    """A result's channels back where the image had them."""
    return result if axis is None or result.ndim != 3 else np.moveaxis(result, -1, axis)


def lumasift(x1: npt.ArrayLike, x2: npt.ArrayLike, x3: Any, x4: Any) -> np.ndarray:
    """Edge-aware smoothing of a float64 image of at most 1000 by 1000: the definition's call.

    Every pixel of `x1` becomes a normalised Gaussian-weighted mean of `x1`
    over a square window centred on it, of half-width ``trunc(3*x3 + 1)``,
    walked outward from the centre in four triangular wedges (right, left,
    up, down). Samples in front of an edge, as seen from the centre, have
    the width `x3`; a sample on an edge pixel, and every sample behind one
    along the wedge's axis, has the width `x4`.

    Parameters
    ----------
    x1 : ndarray of float64, 2-D
        The image, at most 1000 rows and 1000 columns; read column-major, as
        the Octave module reads it (other layouts are copied into Fortran
        order).
    x2 : ndarray of float64
        The edge map, at least ``x1.size`` elements, read in Fortran order (as
        x1's ``(row, col)`` when it has x1's shape). A value above 100, after
        truncation to an integer, marks an edge pixel; NaN and values beyond
        32-bit integers never do. `lumasift_edges` makes one.
    x3 : float or ndarray of float64
        The width in front of edges, which also sets the window; of an
        array, the first element.
    x4 : float or ndarray of float64
        The width on and behind edges, likewise. A small `x4` keeps edges sharp.

    Returns
    -------
    y : ndarray of float64
        The smoothed image, of x1's shape, in Fortran order.

    Raises
    ------
    TypeError
        ``"Error in x1."`` to ``"Error in x4."`` for an argument of the wrong type.
    ValueError
        The same messages for one of the wrong shape or with too few
        elements, and ``"Mask size is too big"`` over 1000 rows or columns.
    KeyboardInterrupt
        When Ctrl-C ends a long call.

    See Also
    --------
    imlumasift : any size, dtype and colour, with defaults.
    lumasift_edges : an edge map from the image itself.

    Notes
    -----
    A sample at distance ``d`` weighs ``exp(-d**2 / (2*sigma)**2)`` and the
    centre counts twice; docs/method.md gives the whole rule. The result is
    bit for bit what the Octave and MATLAB module ``lumasift`` gives.

    Examples
    --------
    >>> import numpy as np
    >>> from lumasift import lumasift
    >>> x1 = np.asfortranarray(np.tile([0.0, 0.0, 1.0, 1.0], (4, 1)))
    >>> y = lumasift(x1, np.zeros(16), 1.0, 0.5)
    >>> y.shape, bool(y[:, 0].max() < y[:, 3].min())
    ((4, 4), True)
    """
    return _core.lumasift(x1, x2, x3, x4)


def imlumasift(image: npt.ArrayLike, edges: Optional[npt.ArrayLike] = None, *deprecated: Any,
               sigma_near: Widths = None, sigma_far: Widths = None, threshold: Widths = None, colour: bool = True,
               channel_axis: Optional[int] = -1, threads: int = 0, return_info: bool = False,
               x3: Widths = None, x4: Widths = None) -> Result:
    """Edge-aware smoothing of images of any size, dtype and number of channels.

    With nothing but the image, ``imlumasift(image)`` estimates its noise,
    finds its edges and chooses the widths from that estimate, so that a
    noisy photograph is smoothed along its edges and a clean one comes back
    nearly as it is. Each channel of the result is, before its conversion
    to the image's dtype, bit for bit what `lumasift`'s rule gives on the
    whole channel.

    Parameters
    ----------
    image : array_like, 2-D or 3-D
        H-by-W (grey) or with a channel axis, of any real numeric dtype or bool.
    edges : array_like, optional
        The edge map: H-by-W, shared by every channel, or with one per
        channel along `channel_axis`. Numbers mark an edge where they exceed
        100 after truncation to an integer; a boolean map where it is true.
        Default: the edges of ``lumasift_edges(image, threshold)``, made tile
        by tile, so that no map as large as the image is made.
    sigma_near : float or sequence of float, optional
        The width in front of edges, which also sets the window's half-width
        ``trunc(3*sigma_near + 1)``; for colour, one or one for each
        opponent channel. Default: follows the image's noise and texture.
    sigma_far : float or sequence of float, optional
        The width on and behind edges, likewise; a small one keeps edges sharp.
    threshold : float or sequence of float, optional
        The threshold, in the image's units, of the edges made where `edges`
        is left out. Default: follows the noise.
    colour : bool, default True
        Smooth three channels, or four with alpha, as colour: in the
        orthonormal opponent basis, each opponent channel with its own
        widths and edges, alpha copied as it is. False keeps the channels
        apart (three bands, three slices).
    channel_axis : int or None, default -1
        The axis of a 3-D image's channels, any of the three; None for a
        grey image, which must then be 2-D. The bits are those of the
        channels last; a 2-D image is grey whatever this is.
    threads : int, default 0
        The threads the call runs on; 0 for as many as the cores and the
        work justify. Calls from several Python threads run at once.
    return_info : bool, default False
        Also return what was used.
    x3, x4 : optional
        Older names of `sigma_near` and `sigma_far`, which may also follow
        `edges` by position; they work for this release with a
        DeprecationWarning.

    Returns
    -------
    smoothed : ndarray
        Of the image's shape and dtype (bool gives float64), in its layout:
        integers rounded half away from zero and saturated, float32 rounded
        to nearest.
    info : Info
        With `return_info`: a dict of ``basis`` (the opponent basis's rows,
        or None with the channels apart), ``noise``, ``scale``, ``texture``,
        ``fine_texture`` (see `image_statistics`), ``threshold`` (None when
        `edges` was given), ``sigma_near`` and ``sigma_far``: floats, or for
        colour a tuple with one for each opponent channel.

    Raises
    ------
    TypeError
        For an argument of the wrong type.
    ValueError
        For a wrong shape or value: `edges` and `threshold` both given, a
        window too wide to tile (half-width over `WIDEST_TILED_REACH`).
    MemoryError
        When the working space cannot be had.
    KeyboardInterrupt
        When Ctrl-C ends a long call.

    See Also
    --------
    lumasift_edges : the edge map the defaults use.
    image_statistics : the noise and texture the defaults follow.
    lumasift.dask.imlumasift : the same on dask arrays, with the same bits.

    Notes
    -----
    The rule, the opponent basis, the defaults' formulas and why the
    results are exact: docs/method.md. The arguments are checked by the
    core's table, the same for Octave, MATLAB and `lumasift.dask`; the
    results are the Octave function ``imlumasift``'s bit for bit.

    Examples
    --------
    >>> import numpy as np
    >>> from lumasift import imlumasift, lumasift_edges
    >>> rng = np.random.default_rng(1)
    >>> image = rng.integers(0, 256, (48, 40, 3), dtype=np.uint8)
    >>> imlumasift(image).shape
    (48, 40, 3)

    Channels first, as some readers give them, with the same bits:

    >>> planes = np.moveaxis(image, -1, 0).copy()
    >>> bool(np.array_equal(imlumasift(planes, channel_axis=0), np.moveaxis(imlumasift(image), -1, 0)))
    True

    Widths and edges of one's own, and what the defaults chose:

    >>> edges = lumasift_edges(image, 40.0)
    >>> imlumasift(image, edges, sigma_near=1.0, sigma_far=0.3).dtype
    dtype('uint8')
    >>> smoothed, info = imlumasift(image, return_info=True)
    >>> len(info["sigma_near"])
    3
    """
    moved = _older_forms("imlumasift", deprecated, ("x3", "x4", "return_info"), {"x3": x3, "x4": x4},
                         {"sigma_near": sigma_near, "sigma_far": sigma_far, "return_info": return_info})
    axis = _channel_axis(image, channel_axis)
    result = _core.call("imlumasift", (_channels_last(image, axis), _channels_last(edges, axis), moved["sigma_near"],
                                       moved["sigma_far"], threshold, colour, threads), bool(moved["return_info"]))
    if moved["return_info"]:
        return _channels_back(result[0], axis), _info(result[1])
    return _channels_back(result, axis)


def lumasift_edges(image: npt.ArrayLike, threshold: Widths = None, *deprecated: Any, colour: bool = True,
                   channel_axis: Optional[int] = -1, threads: int = 0, return_info: bool = False) -> Result:
    """The edge map for `lumasift` and `imlumasift`, made from the image itself.

    The gradient magnitude of the image after a light smoothing, scaled so
    that a magnitude equal to the threshold becomes 100: a pixel whose edge
    value exceeds 100 after truncation is an edge.

    Parameters
    ----------
    image : array_like, 2-D or 3-D
        As `imlumasift` takes it.
    threshold : float or sequence of float, optional
        The gradient magnitude, in the image's units, that becomes 100; for
        colour, one or one for each opponent channel. Default: follows the
        noise, so that noise alone exceeds it at a pixel with probability 0.004.
    colour : bool, default True
        A map for each opponent channel of a colour image, made from that
        channel alone: the edges ``imlumasift(image)`` smooths along. False
        gives one map for all channels.
    channel_axis : int or None, default -1
        As in `imlumasift`; colour maps come with their channels on this axis.
    threads : int, default 0
        As in `imlumasift`.
    return_info : bool, default False
        Also return ``basis``, ``noise``, ``scale`` and ``threshold`` (the
        one used). By position after `threshold` it works for this release,
        with a DeprecationWarning.

    Returns
    -------
    edges : ndarray of float64
        H-by-W, or for colour with three maps along `channel_axis`.
    info : Info
        With `return_info`.

    Raises
    ------
    TypeError, ValueError
        For bad arguments.
    MemoryError, KeyboardInterrupt
        As in `imlumasift`.

    See Also
    --------
    imlumasift : smooths along these edges.

    Notes
    -----
    Each channel, as float64, is smoothed with [1 4 6 4 1]/16 down the
    columns and then along the rows, the border repeated; the gradient is
    the central difference along each axis, its magnitude
    ``sqrt(gx**2 + gy**2)``, the strongest channel counting. A constant
    image gives all zeros. docs/method.md gives the default threshold.

    Examples
    --------
    >>> import numpy as np
    >>> from lumasift import lumasift_edges
    >>> step = np.repeat([[0.0] * 8 + [100.0] * 8], 16, axis=0)
    >>> edges = lumasift_edges(step, 10.0)
    >>> bool((edges[:, 7:9] > 100).all()), bool((edges[:, :5] == 0).all())
    (True, True)
    """
    moved = _older_forms("lumasift_edges", deprecated, ("return_info",), {}, {"return_info": return_info})
    axis = _channel_axis(image, channel_axis)
    result = _core.call("lumasift_edges", (_channels_last(image, axis), threshold, colour, threads),
                        bool(moved["return_info"]))
    if moved["return_info"]:
        return _channels_back(result[0], axis), _info(result[1])
    return _channels_back(result, axis)


def image_statistics(image: npt.ArrayLike, *, colour: bool = True, channel_axis: Optional[int] = -1,
                     threads: int = 0) -> Dict[str, Any]:
    """The noise, the intensity scale and the texture that `imlumasift`'s defaults follow.

    Parameters
    ----------
    image : array_like, 2-D or 3-D
        As `imlumasift` takes it.
    colour, channel_axis, threads
        As in `imlumasift`.

    Returns
    -------
    statistics : dict
        ``noise``
            The noise's deviation, in the image's units, read where texture
            cannot pass for it: on 8-by-8 DCT blocks chosen by their energy
            in one parity of frequencies ``u + v >= 3`` and read in the
            other's (the median ``|c| / 0.6745``); blocks with NaN, Inf or a
            value at the dtype's extremes left out.
        ``scale``
            The dtype's range for integers, 1 for bool, for floats the range
            of the means of the image's 4-by-4 blocks.
        ``texture``
            The median over the blocks of their mean power at frequencies
            ``3 <= u + v <= 5``, over ``noise**2``: 1 for noise alone (NaN
            without noise).
        ``fine_texture``
            The share of blocks whose mean power at ``6 <= u + v <= 9``
            exceeds ``2 * noise**2`` (NaN without noise).

        For colour, noise and scale are read in the stored channels, where
        clipping shows, and texture and fine_texture are tuples, one for each
        opponent channel.

    See Also
    --------
    imlumasift

    Notes
    -----
    Counted, not summed in floating point, so the same bits whatever the
    threads or dask chunks.

    Examples
    --------
    >>> import numpy as np
    >>> from lumasift import image_statistics
    >>> noise = np.random.default_rng(2).normal(100, 5, (256, 256))
    >>> round(image_statistics(noise)["noise"])
    5
    """
    axis = _channel_axis(image, channel_axis)
    image = _channels_last(image, axis)
    _core.check("lumasift_edges", (image, None, colour, threads))
    return _core.image_statistics(image, bool(colour), int(threads))
