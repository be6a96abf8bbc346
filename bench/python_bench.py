"""The Python package's cost next to the Octave module's, and dask's throughput.

1. lumasift.lumasift on a 1000x1000 Fortran-ordered image against the Octave
   module lumasift in a loop, same image and arguments: the medians of several
   calls, and their ratio. Needs the built modules' folder (LUMASIFT_MODULE_DIR
   or the first argument) and scipy to hand the image over; skipped without.
2. lumasift.dask.imlumasift with its defaults on a 6000x4000 gray float64
   image in chunks of 1000x1000, on a local cluster of two worker processes of
   one thread each, against one in-process lumasift.imlumasift call (which
   runs on every core): one run each, and their ratio.
3. With the photographs' folder (LUMASIFT_PHOTOS), lumasift.imlumasift(I) on
   the 24-megapixel noisy photograph of bench/default_path.m in each numpy
   layout (read in place, the result in the input's layout), given its edges
   and widths, and OpenCV's bilateralFilter(I, 9, 75, 75) beside it: the
   fastest of a few calls, and the process's peak memory growth.
4. On the same photograph, what smoothing it as colour costs: imlumasift(I)
   given its edges and widths, against the three opponent channels made
   beforehand as float64 images and each smoothed with the same edges and
   widths, which is the filter's work alone; less what converting uint8 in
   and out costs any call, measured with the channels apart as the same
   call on uint8 and on float64 read and written in place; in C and in
   Fortran order. And the peak memory growth of imlumasift(I) as colour and
   with the channels apart.
5. Calls from two Python threads at once, each filtering its own 256x256x3
   uint8 image 100 times with threads=1, with its defaults and given its
   edges and widths, against the same calls one thread after the other.

    PYTHONPATH=SITE /usr/bin/python3 bench/python_bench.py [MODULE_DIR]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

import lumasift

CALLS = 20


def lined_edges(side, rng):
    # A few per cent of edge pixels, in lines, as bench/octave_timing.m.
    edges = np.zeros((side, side), order="F")
    edges[rng.integers(0, side, side // 40), :] = 200.0
    edges[:, rng.integers(0, side, side // 40)] = 200.0
    return edges


def python_calls(x1, x2, x3, x4):
    lumasift.lumasift(x1, x2, x3, x4)
    times = []
    for _ in range(CALLS):
        start = time.perf_counter()
        y = lumasift.lumasift(x1, x2, x3, x4)
        times.append(time.perf_counter() - start)
    return statistics.median(times), y


def octave_calls(module_dir, x1, x2, x3, x4):
    import scipy.io

    with tempfile.TemporaryDirectory() as folder:
        scipy.io.savemat(os.path.join(folder, "in.mat"), {"x1": x1, "x2": x2})
        script = (f"addpath('{module_dir}'); load('{folder}/in.mat'); y = lumasift(x1, x2, {x3}, {x4}); "
                  f"t = zeros({CALLS}, 1); for k = 1:{CALLS}; tic(); y = lumasift(x1, x2, {x3}, {x4}); t(k) = toc(); end; "
                  f"median_time = median(t); save('-v7', '{folder}/out.mat', 'y', 'median_time');")
        subprocess.run(["octave-cli", "--no-gui", "--quiet", "--no-init-file", "--eval", script], check=True,
                       env={**os.environ, "OCTAVE_HISTFILE": "/dev/null"})
        out = scipy.io.loadmat(os.path.join(folder, "out.mat"), squeeze_me=True)
    return float(out["median_time"]), out["y"]


def call_overhead(module_dir):
    rng = np.random.default_rng(1)
    x1 = np.asfortranarray(rng.random((1000, 1000)))
    x2 = lined_edges(1000, rng)
    print(f"1. lumasift(x1, x2, x3, 4) on 1000x1000, {100 * np.mean(x2 > 100):.1f}% edge pixels, median of {CALLS} calls")
    for x3 in (1.0, 3.3):
        python_time, y = python_calls(x1, x2, x3, 4.0)
        line = f"   x3 = {x3}: Python {1e3 * python_time:7.2f} ms"
        if module_dir and shutil.which("octave-cli"):
            octave_time, octave_y = octave_calls(module_dir, x1, x2, x3, 4.0)
            same = "same bits" if np.array_equal(y, octave_y, equal_nan=True) else "DIFFERENT BITS"
            line += f", Octave {1e3 * octave_time:7.2f} ms, Python/Octave {python_time / octave_time:.3f} ({same})"
        print(line)


def dask_throughput():
    import dask.array as da
    import distributed

    import lumasift.dask

    rng = np.random.default_rng(2)
    rows, cols = 6000, 4000
    r, c = np.mgrid[0:rows, 0:cols]
    image = np.asfortranarray(((r // 300 + c // 400) % 3) * 60.0 + 20.0 * rng.standard_normal((rows, cols)))
    print(f"2. imlumasift(I) with its defaults, {rows}x{cols} float64, one run each")
    start = time.perf_counter()
    expected = lumasift.imlumasift(image)
    whole = time.perf_counter() - start
    print(f"   in-process imlumasift (every core):   {whole:6.2f} s")
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            blocks = client.persist(da.from_array(image, chunks=(1000, 1000)))
            distributed.wait(blocks)
            start = time.perf_counter()
            result = lumasift.dask.imlumasift(blocks).compute()
            chunked = time.perf_counter() - start
    same = "same bits" if np.array_equal(result, expected) else "DIFFERENT BITS"
    print(f"   lumasift.dask.imlumasift, 2 processes x 1 thread, 1000x1000 chunks: {chunked:6.2f} s "
          f"({rows * cols / chunked / 1e6:.1f} Mpixel/s), dask/in-process {chunked / whole:.2f} ({same})")


def fastest(call, calls=3):
    call()
    times = []
    for _ in range(calls):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def peak_growth_mb(call):
    # Writing 5 to clear_refs resets the peak resident size to the current one.
    def kb(field):
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))

    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    before = kb("VmRSS")
    result = call()
    growth = (kb("VmHWM") - before) / 1024
    del result
    return growth


def layouts(photo_dir):
    from PIL import Image

    retina = np.asarray(Image.open(os.path.join(photo_dir, "retina.jpg")))
    rng = np.random.default_rng(3)
    tiled = np.tile(retina, (3, 5, 1))[:4000, :6000]
    I = np.clip(np.round(tiled + 15.0 * rng.standard_normal(tiled.shape)), 0, 255).astype(np.uint8)
    doubled = np.repeat(I, 2, axis=1)
    views = {"C order": I, "Fortran order": np.asfortranarray(I), "strided view": doubled[:, ::2],
             "negative strides": I[::-1, ::-1].copy()[::-1, ::-1],
             "Fortran, rows back": np.asfortranarray(I[::-1])[::-1]}
    J, info = lumasift.imlumasift(I, return_info=True)
    E = lumasift.lumasift_edges(I)
    print(f"3. imlumasift(I) on {'x'.join(map(str, I.shape))} uint8, {os.cpu_count()} cores, fastest of 3 calls; "
          f"noise {info['noise']:.2f}, x3 {values(info['sigma_near'])}, x4 {values(info['sigma_far'])}")
    fortran = fastest(lambda: lumasift.imlumasift(views["Fortran order"]))
    for name, view in views.items():
        seconds = fastest(lambda: lumasift.imlumasift(view))
        same = "same bits" if np.array_equal(lumasift.imlumasift(view), J) else "DIFFERENT BITS"
        print(f"   {name:18s} {seconds:6.3f} s  {seconds / fortran:.2f}x of Fortran order, peak growth "
              f"{peak_growth_mb(lambda: lumasift.imlumasift(view)):4.0f} MB for a {J.nbytes / 2**20:.0f} MB result "
              f"({same})")
    given = fastest(lambda: lumasift.imlumasift(I, E, sigma_near=info["sigma_near"], sigma_far=info["sigma_far"]))
    edges = fastest(lambda: lumasift.lumasift_edges(I))
    default = fastest(lambda: lumasift.imlumasift(I))
    print(f"   C order, given E   {given:6.3f} s; imlumasift(I) {default / given:.2f}x of it, "
          f"lumasift_edges(I) {edges / given:.2f}x")
    try:
        import cv2
    except ImportError:
        return I
    bilateral = fastest(lambda: cv2.bilateralFilter(I, 9, 75, 75))
    print(f"   cv2.bilateralFilter(I, 9, 75, 75) {bilateral:6.3f} s: imlumasift(I) takes {default / bilateral:.2f}x")
    return I


def values(value):
    return "/".join(f"{v:.3f}" for v in (value if isinstance(value, tuple) else (value,)))


def colour_cost(I):
    print(f"4. colour on {'x'.join(map(str, I.shape))} uint8, given its edges and widths:")
    for order, image in (("C order", np.ascontiguousarray(I)), ("Fortran order", np.asfortranarray(I))):
        J, info = lumasift.imlumasift(image, return_info=True)
        E = lumasift.lumasift_edges(image)
        basis = np.array(info["basis"])
        x = np.asarray(image, np.float64)
        opponent = [np.asfortranarray((basis[c, 0] * x[..., 0] + basis[c, 1] * x[..., 1]) + basis[c, 2] * x[..., 2])
                    for c in range(3)]
        edges = [np.asfortranarray(E[..., c]) for c in range(3)]
        given = fastest(lambda: lumasift.imlumasift(image, E, sigma_near=info["sigma_near"],
                                                    sigma_far=info["sigma_far"]))
        alone = fastest(lambda: [lumasift.imlumasift(opponent[c], edges[c], sigma_near=info["sigma_near"][c],
                                                     sigma_far=info["sigma_far"][c], colour=False) for c in range(3)])
        shared, x3, x4 = edges[0], info["sigma_near"][0], info["sigma_far"][0]
        doubles = np.asfortranarray(x)
        in_uint8 = fastest(lambda: lumasift.imlumasift(image, shared, sigma_near=x3, sigma_far=x4, colour=False))
        in_place = fastest(lambda: lumasift.imlumasift(doubles, shared, sigma_near=x3, sigma_far=x4, colour=False))
        default = fastest(lambda: lumasift.imlumasift(image))
        basis_cost = (given - alone) - (in_uint8 - in_place)
        print(f"   {order:13s} colour {given:.3f} s, the opponent channels alone {alone:.3f} s, the uint8 "
              f"conversions {in_uint8 - in_place:+.3f} s: the basis, both ways, {basis_cost:+.3f} s, "
              f"{100 * basis_cost / default:+.1f}% of imlumasift(I) ({default:.3f} s)")
    print(f"   peak growth: colour {peak_growth_mb(lambda: lumasift.imlumasift(I)):.0f} MB, channels apart "
          f"{peak_growth_mb(lambda: lumasift.imlumasift(I, colour=False)):.0f} MB, "
          f"for a {J.nbytes / 2**20:.0f} MB result")


def concurrent_calls(repeats=100):
    rng = np.random.default_rng(5)
    images = [(rng.random((256, 256, 3)) * 255).astype(np.uint8) for _ in range(2)]
    print(f"5. two threads, each {repeats} calls on its own 256x256x3 uint8 image with threads=1:")
    for label, arguments in (("defaults", lambda I: ()),
                             ("given E, x3 1, x4 0.5", lambda I: (lumasift.lumasift_edges(I), 1.0, 0.5))):
        def calls(I):
            given = arguments(I)
            for _ in range(repeats):
                lumasift.imlumasift(I, *given, threads=1)

        start = time.perf_counter()
        for I in images:
            calls(I)
        after = time.perf_counter() - start
        threads = [threading.Thread(target=calls, args=(I,)) for I in images]
        start = time.perf_counter()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        together = time.perf_counter() - start
        print(f"   {label:22s} one after another {after:6.3f} s, at once {together:6.3f} s: {after / together:.2f}x")


def main():
    module_dir = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("LUMASIFT_MODULE_DIR")
    print(f"{os.cpu_count()} cores, {len(os.sched_getaffinity(0))} usable")
    call_overhead(module_dir)
    dask_throughput()
    concurrent_calls()
    if os.environ.get("LUMASIFT_PHOTOS"):
        colour_cost(layouts(os.environ["LUMASIFT_PHOTOS"]))


if __name__ == "__main__":
    main()
