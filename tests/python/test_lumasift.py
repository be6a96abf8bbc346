import concurrent.futures
import doctest
import importlib
import importlib.metadata
import os
import pathlib
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import lumasift


def edge_map(rng, shape):
    return 200.0 * (rng.random(shape) < 0.1)


def test_same_bits_as_the_octave_modules(octave, rng):
    # C-ordered inputs: I[r, c] must mean I(r+1, c+1), never the transpose.
    inputs = {
        "x": rng.random((40, 50)),
        "e": edge_map(rng, (40, 50)),
        "rgb": (rng.random((30, 41, 3)) * 255).astype(np.uint8),
        "noisy": (0.5 + 0.1 * rng.standard_normal((1100, 30))).astype(np.float32),
        "mask": rng.random((1100, 30)) < 0.05,
        "flags": rng.random((20, 21)) < 0.5,
        "ints": rng.integers(-3000, 3000, (25, 26, 2), dtype=np.int16),
    }
    cases = [
        ("y1", "lumasift(x, e, 1.3, 0.4)", lambda a: lumasift.lumasift(a["x"], a["e"], 1.3, 0.4)),
        ("y2", "imlumasift(rgb)", lambda a: lumasift.imlumasift(a["rgb"])),
        ("y3", "imlumasift(noisy, mask, 1.1, 0.3)",
         lambda a: lumasift.imlumasift(a["noisy"], a["mask"], sigma_near=1.1, sigma_far=0.3)),
        ("y4", "imlumasift(flags, [], 1)", lambda a: lumasift.imlumasift(a["flags"], None, sigma_near=1)),
        ("y5", "imlumasift(ints, 150 * ones(25, 26, 2), [], 0.2)",
         lambda a: lumasift.imlumasift(a["ints"], np.full((25, 26, 2), 150.0), sigma_far=0.2)),
        ("y6", "lumasift_edges(rgb)", lambda a: lumasift.lumasift_edges(a["rgb"])),
        ("y7", "lumasift_edges(noisy, 0.05)", lambda a: lumasift.lumasift_edges(a["noisy"], 0.05)),
        ("y8", "imlumasift(rgb, [], [], [], 'Colour', false)",
         lambda a: lumasift.imlumasift(a["rgb"], colour=False)),
        ("y9", "lumasift_edges(rgb, [], 'Colour', false)", lambda a: lumasift.lumasift_edges(a["rgb"], colour=False)),
        ("y10", "imlumasift(rgb, [], [1 2 0.5], 0.3)",
         lambda a: lumasift.imlumasift(a["rgb"], None, sigma_near=[1, 2, 0.5], sigma_far=0.3)),
    ]
    infos = [
        ("i1", "[~, i1] = imlumasift(noisy)", lambda a: lumasift.imlumasift(a["noisy"], return_info=True)[1]),
        ("i2", "[~, i2] = imlumasift(rgb, e(1:30, 1:41))",
         lambda a: lumasift.imlumasift(a["rgb"], a["e"][:30, :41], return_info=True)[1]),
        ("i3", "[~, i3] = lumasift_edges(ints)", lambda a: lumasift.lumasift_edges(a["ints"], return_info=True)[1]),
    ]
    code = "; ".join([f"{name} = {expression}" for name, expression, _ in cases] +
                     [expression for _, expression, _ in infos])
    expected = octave(code, inputs)
    for name, expression, call in cases:
        result = call(inputs)
        assert result.dtype == expected[name].dtype, expression
        assert np.array_equal(result, expected[name], equal_nan=True), expression
    for name, expression, call in infos:
        assert call(inputs) == octave_struct(expected[name]), expression


def octave_struct(loaded):
    """A struct as loadmat gives it, as the package's info: [] becomes None, a scalar a float, a row a tuple and
    a matrix a tuple of rows, under Python's names."""
    def value_of(value):
        value = np.atleast_2d(value)
        if value.size == 0:
            return None
        if value.size == 1:
            return float(value.item())
        rows = tuple(tuple(float(v) for v in row) for row in value)
        return rows[0] if len(rows) == 1 else rows
    # Octave keeps the definition's names of the widths.
    python_names = {"x3": "sigma_near", "x4": "sigma_far"}
    return {python_names.get(field, field): value_of(loaded[field].item()) for field in loaded.dtype.names}


# Views of one Fortran-ordered image, each read in place through its strides.
LAYOUTS = {
    "C order": np.ascontiguousarray,
    "Fortran order": lambda a: a,
    "strided": lambda a: np.asfortranarray(np.repeat(np.repeat(a, 2, 0), 3, 1))[::2, ::3],
    "negative strides": lambda a: np.ascontiguousarray(a[::-1, ::-1])[::-1, ::-1],
    "channels outermost, columns reversed": lambda a: np.ascontiguousarray(np.moveaxis(a[:, ::-1], -1, 0))
    .transpose(1, 2, 0)[:, ::-1] if a.ndim == 3 else np.asfortranarray(a[:, ::-1])[:, ::-1],
}


def axes_by_step(array):
    return list(np.argsort([abs(step) for step in array.strides], kind="stable"))


@pytest.mark.parametrize("dtype", ["float64", "float32", "int8", "uint8", "int16", "uint16", "int32", "uint32",
                                   "int64", "uint64", "bool"])
def test_every_layout_gives_the_fortran_bits_in_its_own_layout(rng, dtype):
    image = np.asfortranarray((rng.random((23, 17, 2)) * 100).astype(dtype))
    expected_dtype = np.float64 if dtype == "bool" else np.dtype(dtype)
    for I in (image, np.asfortranarray(image[:, :, 0])):
        e = np.asfortranarray(edge_map(rng, I.shape))
        J = lumasift.imlumasift(I, None, sigma_near=1.2, sigma_far=0.3)
        JE = lumasift.imlumasift(I, e, sigma_near=1.2, sigma_far=0.3)
        edges = lumasift.lumasift_edges(I)
        assert J.dtype == expected_dtype and J.shape == I.shape and edges.shape == I.shape[:2]
        for name, view in LAYOUTS.items():
            V = view(I)
            assert np.array_equal(V, I) and (name == "Fortran order" or not V.flags.f_contiguous), name
            result = lumasift.imlumasift(V, None, sigma_near=1.2, sigma_far=0.3)
            assert np.array_equal(result, J), name
            assert axes_by_step(result) == axes_by_step(V), name
            assert np.array_equal(lumasift.imlumasift(V, view(e), sigma_near=1.2, sigma_far=0.3), JE), name
            assert np.array_equal(lumasift.imlumasift(I, view(e), sigma_near=1.2, sigma_far=0.3), JE), name
            assert np.array_equal(lumasift.lumasift_edges(V), edges), name
    if dtype == "float64":
        # The filter is not symmetric under transposition: an array read
        # through the wrong strides would give its transpose's result.
        x, e = image[:, :, 0], edge_map(rng, (23, 17))
        y = lumasift.lumasift(x, e, 1.2, 0.3)
        assert np.array_equal(y, lumasift.imlumasift(x, e, sigma_near=1.2, sigma_far=0.3))
        assert np.array_equal(y, lumasift.lumasift(np.ascontiguousarray(x), e.ravel(order="F"), 1.2, 0.3))
        assert not np.array_equal(y, lumasift.lumasift(x.T.copy(), e.T.copy(), 1.2, 0.3).T)
        assert not np.array_equal(y, lumasift.imlumasift(np.ascontiguousarray(x.T), e.T, sigma_near=1.2,
                                                         sigma_far=0.3).T)


@pytest.mark.parametrize("call, error, message", [
    (lambda: lumasift.lumasift(np.ones((3, 3), np.float32), np.zeros(9), 1, 1), TypeError, "Error in x1."),
    (lambda: lumasift.lumasift(np.ones(3), np.zeros(9), 1, 1), ValueError, "Error in x1."),
    (lambda: lumasift.lumasift(np.ones((3, 3)), np.zeros(8), 1, 1), ValueError, "Error in x2."),
    (lambda: lumasift.lumasift(np.ones((3, 3)), np.zeros(9, int), 1, 1), TypeError, "Error in x2."),
    (lambda: lumasift.lumasift(np.ones((3, 3)), np.zeros(9), np.empty(0), 1), ValueError, "Error in x3."),
    (lambda: lumasift.lumasift(np.ones((3, 3)), np.zeros(9), 1, "1"), TypeError, "Error in x4."),
    (lambda: lumasift.lumasift(np.ones((3, 3)), np.zeros(9), 1, True), TypeError, "Error in x4."),
    (lambda: lumasift.lumasift(np.ones((1001, 2)), np.zeros(2002), 1, 1), ValueError, "Mask size is too big"),
    (lambda: lumasift.imlumasift(np.ones((3, 3), complex)), TypeError, "image must be"),
    (lambda: lumasift.imlumasift([["a"]]), TypeError, "image must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3, 2, 2))), ValueError, "image must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), np.zeros((2, 3))), ValueError, "edges must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3, 2)), np.zeros((3, 3, 3))), ValueError, "edges must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), np.zeros((3, 3), object)), TypeError, "edges must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), None, sigma_near=[1, 2]), ValueError, "sigma_near must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), None, sigma_near=1, sigma_far=1j), TypeError, "sigma_far must be"),
    (lambda: lumasift.imlumasift(np.ones((2049, 3)), None, sigma_near=400), ValueError, "too wide to tile"),
    (lambda: lumasift.lumasift_edges(np.ones((3, 3)), -1), ValueError, "threshold must be"),
    (lambda: lumasift.lumasift_edges(np.ones((3, 3)), "x"), TypeError, "threshold must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), threads=-1), ValueError, "threads must be"),
    (lambda: lumasift.lumasift_edges(np.ones((3, 3)), threads=1.5), ValueError, "threads must be"),
    (lambda: lumasift.image_statistics(np.ones((3, 3)), threads=True), TypeError, "threads must be"),
    (lambda: lumasift.imlumasift(np.ones((3, 3, 3)), channel_axis=None), ValueError, "channel_axis=None is for"),
    (lambda: lumasift.lumasift_edges(np.ones((3, 3, 3)), channel_axis=3), np.AxisError, "channel_axis"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), None, 1.0, sigma_near=1.0), TypeError, "give sigma_near once"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), x4=1.0, sigma_far=1.0), TypeError, "give sigma_far once"),
    (lambda: lumasift.imlumasift(np.ones((3, 3)), None, 1, 1, False, 2), TypeError, "at most 5 positional"),
])
def test_bad_arguments_raise_clear_exceptions(call, error, message):
    with pytest.raises(error, match=message.replace(".", r"\.")):
        call()


def test_calls_from_several_threads_run_at_once_with_their_own_bits(rng):
    images = [(rng.random((300, 200, 3)) * 255).astype(np.uint8), rng.random((1100, 90))]
    alone = [(lumasift.imlumasift(I), lumasift.lumasift_edges(I)) for I in images]
    for threads in (1, 2):
        assert all(np.array_equal(lumasift.imlumasift(I, threads=threads), J) for I, (J, _) in zip(images, alone))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        calls = [pool.submit(lambda k: (lumasift.imlumasift(images[k], threads=1),
                                        lumasift.lumasift_edges(images[k], threads=1)), k % 2) for k in range(8)]
        for k, call in enumerate(calls):
            J, E = call.result()
            assert np.array_equal(J, alone[k % 2][0]) and np.array_equal(E, alone[k % 2][1])


# Each call would run for minutes; Ctrl-C must end it at once.
LONG_CALLS = [
    "lumasift.lumasift(x, e, 33, 0.5)",
    "lumasift.imlumasift(x, e, 33, 0.5)",
    "lumasift.imlumasift(np.tile(x, (3, 3)), None, 20, 0.5)",
]


@pytest.mark.parametrize("call", LONG_CALLS)
def test_ctrl_c_stops_a_long_call(call):
    child = subprocess.Popen([sys.executable, "-c", f"""
import numpy as np, lumasift
x = np.random.default_rng(0).random((1000, 1000)); e = np.zeros((1000, 1000))
print("ready", flush=True)
try:
    {call}
    print("finished")
except KeyboardInterrupt:
    print("interrupted")
print(lumasift.lumasift(np.ones((2, 2)), np.zeros(4), 1, 1).sum())
"""], stdout=subprocess.PIPE, text=True, env=os.environ)
    assert child.stdout.readline() == "ready\n"
    time.sleep(1.0)
    start = time.monotonic()
    child.send_signal(signal.SIGINT)
    output, _ = child.communicate(timeout=30)
    assert output.split() == ["interrupted", "4.0"]
    assert time.monotonic() - start < 5


@pytest.mark.parametrize("axis", [0, 1, -2, 2])
def test_channel_axis_gives_the_bits_of_channels_last(rng, axis):
    image = (rng.random((30, 26, 3)) * 255).astype(np.uint8)
    edges = 200.0 * (rng.random(image.shape) < 0.1)
    there = np.moveaxis(image, -1, axis)
    assert np.array_equal(lumasift.imlumasift(there, channel_axis=axis),
                          np.moveaxis(lumasift.imlumasift(image), -1, axis))
    assert np.array_equal(lumasift.imlumasift(there, np.moveaxis(edges, -1, axis), sigma_near=1.2, sigma_far=0.3,
                                              channel_axis=axis),
                          np.moveaxis(lumasift.imlumasift(image, edges, sigma_near=1.2, sigma_far=0.3), -1, axis))
    assert np.array_equal(lumasift.lumasift_edges(there, channel_axis=axis),
                          np.moveaxis(lumasift.lumasift_edges(image), -1, axis))
    np.testing.assert_equal(lumasift.image_statistics(there, channel_axis=axis), lumasift.image_statistics(image))
    # A grey image is grey whatever the axis.
    assert np.array_equal(lumasift.imlumasift(image[:, :, 0], channel_axis=None), lumasift.imlumasift(image[:, :, 0]))


def test_older_names_and_positions_work_with_a_deprecation_warning(rng):
    image = (rng.random((40, 30)) * 255).astype(np.uint8)
    edges = lumasift.lumasift_edges(image, 30.0)
    J, info = lumasift.imlumasift(image, edges, sigma_near=1.5, sigma_far=0.4, return_info=True)
    for older in (lambda: lumasift.imlumasift(image, edges, 1.5, 0.4, True),
                  lambda: lumasift.imlumasift(image, edges, x3=1.5, x4=0.4, return_info=True)):
        with pytest.warns(DeprecationWarning):
            J_older, info_older = older()
        assert np.array_equal(J_older, J) and info_older == info
    with pytest.warns(DeprecationWarning, match="sigma_near"):
        assert info["x3"] == info["sigma_near"]
    with pytest.warns(DeprecationWarning):
        E, _ = lumasift.lumasift_edges(image, 30.0, True)
    assert np.array_equal(E, edges)


@pytest.mark.parametrize("module", ["lumasift", "lumasift.dask"])
def test_the_examples_in_the_docstrings_run(module):
    if module == "lumasift.dask":
        pytest.importorskip("dask")
    results = doctest.testmod(importlib.import_module(module), optionflags=doctest.NORMALIZE_WHITESPACE)
    assert results.attempted > 0 and results.failed == 0


def test_the_package_has_its_command_and_its_types():
    scripts = importlib.metadata.entry_points(group="console_scripts")
    assert [entry.value for entry in scripts if entry.name == "lumasift"] == ["lumasift.cli:main"]
    assert (pathlib.Path(lumasift.__file__).parent / "py.typed").is_file()
