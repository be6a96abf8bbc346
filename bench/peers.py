"""Edge-aware filters of OpenCV (Debian's python3-opencv) on the benchmark's
1000x1000 scene, and on the 24-megapixel photograph of bench/default_path.m
when the photographs' folder is given, for comparison with lumasift measured
in the same run. Prints the median and the fastest of several calls, and the
thread count.

    /usr/bin/python3 bench/peers.py [PHOTO_DIR]"""
import os
import statistics
import sys
import time

import cv2
import numpy as np


def scene(side=1000):
    # Blocks of several levels with noise over them, as bench/filter_bench.cpp.
    rng = np.random.default_rng(5)
    r, c = np.mgrid[0:side, 0:side]
    return (((r // 50 + c // 70) % 3) * 0.3 + rng.uniform(-0.1, 0.1, (side, side))).astype(np.float32)


def timed(name, call, repeats=15):
    call()
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    print(f"{name:<48} median {1e3 * statistics.median(times):8.2f} ms, fastest {1e3 * min(times):8.2f} ms")


def main():
    image = scene()
    print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads, 1000x1000 float32")
    for d in (3, 9, 21):  # the windows of reach 1, 4 and 10
        timed(f"bilateralFilter d={d}", lambda: cv2.bilateralFilter(image, d, 0.2, d / 2.0))
        timed(f"ximgproc.jointBilateralFilter d={d}",
              lambda: cv2.ximgproc.jointBilateralFilter(image, image, d, 0.2, d / 2.0))
    if len(sys.argv) > 1:
        # Debian's retina photograph tiled to 4000x6000x3, with noise, in uint8.
        retina = cv2.imread(os.path.join(sys.argv[1], "retina.jpg"))
        photo = np.tile(retina, (3, 5, 1))[:4000, :6000].astype(np.float64)
        photo = np.clip(np.rint(photo + np.random.default_rng(3).normal(0, 15, photo.shape)), 0, 255).astype(np.uint8)
        timed("bilateralFilter 9/75/75, 4000x6000x3 uint8", lambda: cv2.bilateralFilter(photo, 9, 75, 75), 5)
    return 0


if __name__ == "__main__":
    sys.exit(main())
