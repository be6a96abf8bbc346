"""Edge-aware smoothing: a Gaussian mean that does not cross edges.

lumasift(x1, x2, x3, x4)      the filter on a float64 image of at most 1000 by 1000
imlumasift(I, E, x3, x4)      images of any size, dtype and number of channels,
                              with defaults that follow the image's noise
lumasift_edges(I, threshold)  the edge map, made from the image itself
image_statistics(I)           the noise, scale and texture behind the defaults

lumasift.dask.imlumasift filters dask arrays of any chunking with the same bits.

Arrays are indexed as in MATLAB and Octave: I[r, c] is I(r+1, c+1).
imlumasift and lumasift_edges read arrays of any layout in place (C or
Fortran order, strided views, negative strides) and return results in the
input's layout; lumasift, like the Octave module, takes column-major x1 and
x2, copying others into Fortran order. Ctrl-C stops a long call with
KeyboardInterrupt.
"""


from . import _core

__version__ = "0.3.0"
__all__ = ["lumasift", "imlumasift", "lumasift_edges", "image_statistics", "WIDEST_TILED_REACH"]

# The widest half-width trunc(3*x3 + 1) that an image larger than one tile
# may be smoothed with.
WIDEST_TILED_REACH = _core.WIDEST_TILED_REACH


def lumasift(x1, x2, x3, x4):
    """Edge-aware smoothing of a float64 image of at most 1000 by 1000.

    y = lumasift(x1, x2, x3, x4) returns, for every pixel of the image x1, a
    normalised Gaussian-weighted average of x1 over a square window centred
    on the pixel, of half-width trunc(3*x3 + 1). The window is walked outward
    from the centre in four triangular wedges (right, left, up, down).
    Samples in front of an edge, as seen from the centre, have the width x3;
    a sample on an edge pixel, and every sample behind one along the wedge's
    axis, has the width x4. A sample at distance d weighs
    exp(-d**2 / (2*sigma)**2), and the centre counts twice.

    x1  The image: a 2-D float64 array of at most 1000 rows and 1000 columns.
    x2  The edge map: a float64 array with at least x1.size elements, read in
        Fortran order (as x1's (row, col) when it has x1's shape). A value
        above 100, after truncation to an integer, marks an edge pixel. NaN
        and values beyond 32-bit integers are never edges. lumasift_edges
        makes one from the image itself.
    x3  The width in front of edges, which also sets the window: a number, or
        a float64 array whose first element is used.
    x4  The width on and behind edges, likewise. A small x4 keeps edges sharp.
    y   The smoothed image, float64, of x1's shape, in Fortran order.

    For other dtypes, colour, or images over 1000 by 1000, use imlumasift.

    Raises TypeError("Error in x1.") to ("Error in x4.") for an argument of
    the wrong type, ValueError with the same messages for one of the wrong
    shape or too few elements, ValueError("Mask size is too big") over 1000
    rows or columns, and KeyboardInterrupt when Ctrl-C ends a long call.
    """
    return _core.lumasift(x1, x2, x3, x4)


def imlumasift(I, E=None, x3=None, x4=None, return_info=False, *, threshold=None, colour=True, threads=0):
    """Edge-aware smoothing of images of any size, dtype and number of channels.

    J = imlumasift(I) smooths the photograph I with no other input: it
    estimates the noise of I, finds edges in I and chooses the widths from
    that estimate, so that a noisy image is smoothed along its edges and a
    clean one comes back as it is.

    J = imlumasift(I, E, x3, x4) smooths each channel of I as
    lumasift(I[:, :, c].astype(float), E, x3, x4) would, for images of any
    size, and returns J in I's dtype. E, x3 and x4 may be None for their
    defaults. threshold, with E left out, makes the edges as
    lumasift_edges(I, threshold) would: J is then
    imlumasift(I, lumasift_edges(I, threshold), x3, x4).

    Colour: an H-by-W-by-3 image, or H-by-W-by-4 with alpha, is smoothed as
    colour. Its first three channels are seen in the orthonormal opponent
    basis, rows (1, 1, 1)/sqrt(3), (1, 0, -1)/sqrt(2), (1, -2, 1)/sqrt(6):
    the luminance holds the detail, the two others are smooth, and each gets
    its own defaults and its own edges; the results go back through the
    transpose, and alpha is copied as it is. x3, x4 (and the threshold) may
    then be one number for all three or one for each; an E with a channel
    per channel of I gives its channel c to opponent channel c.
    colour=False keeps the channels apart, for three channels that are not
    colour (three bands, three slices).

    threads: how many threads the call runs on, 0 (the default) for as many
    as the cores and the work justify. Calls from several Python threads run
    at once, each on its own threads, with the same bits.

    J, info = imlumasift(..., return_info=True) also returns a dict of what
    was used: basis (the opponent basis's rows, or None with the channels
    kept apart), noise (the noise estimate, in I's units), scale (the range
    the widths are measured against), texture and fine_texture (see
    image_statistics), threshold (the edge threshold of the edges made from
    I, or None when E was given), x3 and x4: floats, or for colour a tuple
    with a value for each opponent channel.

    I   An H-by-W or H-by-W-by-C array of any real numeric dtype or bool.
    E   The edge map: H-by-W, shared by every channel, or H-by-W-by-C, one
        per channel. Numbers mark an edge where they exceed 100 after
        truncation to an integer; a boolean E marks edges where it is true.
        Default: the edges of lumasift_edges(I), made tile by tile.
    x3  The width in front of edges, which also sets the window: a real
        number (a scalar of any real numeric dtype), used as a float.
    x4  The width on and behind edges, likewise.
    J   The smoothed image, of I's shape and dtype: integers rounded half
        away from zero and saturated, float32 rounded to nearest, bool I
        gives float64. In I's layout: C order for C order, Fortran for
        Fortran.

    Defaults, from image_statistics(I): the noise sigma, the scale S and the
    texture measures T (texture) and F (fine_texture):
        x3 = exp(0.111 - 0.705 log(max(T, 1)) - 0.156 log(F + 0.01)), within [0.4, 2.4]
        x4 = exp(-1.461 + 0.143 log(max(T, 1)) - 0.240 log(F + 0.01)), within [0.15, 1.25]
        each at most 60 sigma / S and 20 sigma / S and at least 0.01;
        E  = lumasift_edges(I), whose threshold follows sigma.
    Smooth pictures get wide windows, fine texture narrow ones, and a clean
    image comes back nearly as it is.

    Each channel of J is, before the conversion to I's dtype, bit for bit what
    lumasift's rule gives on the whole channel (for colour: each opponent
    channel is the rule's result, and J the fixed double sums of the inverse),
    and the same bits as the Octave function imlumasift. Larger images are cut into overlapping tiles,
    which needs a half-width trunc(3*x3 + 1) of at most WIDEST_TILED_REACH.

    Raises TypeError for arguments of the wrong type, ValueError for a wrong
    shape or value (E and threshold both given, a window too wide to tile),
    MemoryError when the working space cannot be had, and KeyboardInterrupt
    when Ctrl-C ends a long call. The arguments are checked by the core's
    table of imlumasift's, the same for Octave, MATLAB and lumasift.dask.
    """
    return _core.call("imlumasift", (I, E, x3, x4, threshold, colour, threads), bool(return_info))


def lumasift_edges(I, threshold=None, return_info=False, *, colour=True, threads=0):
    """Edge map for lumasift and imlumasift, made from the image itself.

    E = lumasift_edges(I) returns, for the H-by-W or H-by-W-by-C image I of
    any real numeric dtype or bool, an H-by-W float64 edge map: the gradient
    magnitude of I after a light smoothing, scaled so that a magnitude equal
    to the threshold becomes 100. A pixel whose edge value exceeds 100 after
    truncation is an edge; the default threshold follows the noise of I.

    E = lumasift_edges(I, threshold) uses that magnitude, in I's units, a
    positive real number (for colour, one for all or one for each channel).

    A colour image (see imlumasift) gives H-by-W-by-3 maps, one for each
    opponent channel, made from that channel alone with its own threshold:
    the edges imlumasift(I) smooths along. colour=False gives one map for
    all channels, as for any other number of channels. threads as in
    imlumasift.

    E, info = lumasift_edges(..., return_info=True) also returns a dict with
    basis, noise (the noise estimate), scale (the intensity scale imlumasift
    measures its widths against) and threshold (the one used).

    How E is made: each channel, as float64, is smoothed with [1 4 6 4 1]/16
    down the columns and then along the rows, the border repeated; its
    gradient is the central difference along each axis, its magnitude
    sqrt(gx**2 + gy**2), the strongest channel counting; E = 100 * magnitude /
    threshold. The noise estimate sigma is image_statistics(I)["noise"]. The
    default threshold, 0.1498 * sigma * sqrt(-2 * log(1 - (1 - 0.004)**(1/C))), is
    exceeded by noise alone at a pixel with the probability 0.004, and is at
    least a hundredth of the intensity scale, so a clean photograph's edges
    are those that stand out from it. A constant image gives all zeros.

    Raises TypeError or ValueError for bad arguments, MemoryError, and
    KeyboardInterrupt when Ctrl-C ends a long call.
    """
    return _core.call("lumasift_edges", (I, threshold, colour, threads), bool(return_info))


def image_statistics(I, *, colour=True, threads=0):
    """The noise, the intensity scale and the texture that imlumasift's defaults follow.

    Returns a dict, as in imlumasift's info:
    noise         the noise's deviation, in I's units, read where texture
                  cannot pass for it: on 8-by-8 DCT blocks chosen by their
                  energy in one parity of frequencies u + v >= 3 and read in
                  the other's, on the frequencies texture leaves emptiest
                  (the median |c| / 0.6745); blocks with NaN, Inf or a value
                  at the dtype's extremes (a float image's own) left out.
    scale         the dtype's range for integers, 1 for bool, for floats the
                  range of the means of the image's 4-by-4 blocks.
    texture       the median over the blocks of their mean power at
                  frequencies 3 <= u + v <= 5, over noise**2: 1 for noise
                  alone (NaN without noise).
    fine_texture  the share of blocks whose mean power at 6 <= u + v <= 9
                  exceeds 2 noise**2 (NaN without noise).
    For a colour image (see imlumasift) the noise and scale are read in its
    stored channels, where clipping shows, and texture and fine_texture are
    tuples, one for each opponent channel, in units of that noise.
    Exact: counted, so the same bits whatever the threads or dask chunks.
    threads as in imlumasift.
    """
    _core.check("lumasift_edges", (I, None, colour, threads))
    return _core.image_statistics(I, bool(colour), int(threads))
