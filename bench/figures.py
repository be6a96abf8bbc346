"""The README's figures, from the quality and speed benchmarks, with Debian's matplotlib.

    /usr/bin/python3 bench/figures.py [PHOTO_DIR [OUT_DIR]]

Writes into OUT_DIR (default docs/figures/):
- psnr.png: PSNR against the noise's deviation for imlumasift's defaults and
  the peers of bench/quality.py (OpenCV's bilateral and self-guided filters,
  NL-means told the true sigma), the mean over colour and over grey
  photographs of scikit-image's data, stored as uint8 as cameras store them;
- speed.png: seconds per megapixel of imlumasift(I), and of OpenCV's
  bilateralFilter(I, 9, 75, 75), on the noisy astronaut tiled to sizes from
  a quarter of a megapixel to 24, fastest of 3 calls, on this machine's cores;
- crop.jpg: a crop of the noisy astronaut (sigma 20), lumasift's defaults,
  the bilateral filter and NL-means side by side, each with its PSNR.
Prints the figures' numbers, so a run's output can be quoted beside them.
"""
import os
import platform
import sys
import time

import cv2
import matplotlib
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quality import REPO, load, noisy, peers, psnr  # noqa: E402

import lumasift  # noqa: E402

SIGMAS = (5, 10, 20, 30, 40)
PHOTOGRAPHS = {"colour": ["astronaut.png", "coffee.png", "chelsea.png", "rocket.jpg"],
               "grey": ["camera.png", "coins.png", "moon.png", "cell.png"]}
METHODS = {"lumasift, defaults": lambda image, sigma: lumasift.imlumasift(image),
           **{name: (lambda name: lambda image, sigma: peers(image, sigma)[name])(name)
              for name in ("bilateral", "self-guided", "NL-means")}}
LABELS = {"bilateral": "OpenCV bilateral (9, 75, 75)", "self-guided": "OpenCV self-guided (4, 25.5²)",
          "NL-means": "NL-means, told the true sigma"}
MEGAPIXELS = (0.25, 1, 4, 12, 24)


def psnr_figure(photo_dir, out):
    figure, axes = plt.subplots(1, 2, figsize=(10, 4), sharey=True)
    for axis, (kind, names) in zip(axes, PHOTOGRAPHS.items()):
        cleans = [load(photo_dir, name) for name in names]
        for method, smooth in METHODS.items():
            means = [np.mean([psnr(smooth(noisy(clean, sigma, 1000 * k + sigma, "uint8"), sigma), clean)
                              for k, clean in enumerate(cleans)]) for sigma in SIGMAS]
            print(f"psnr {kind} {method}: " + ", ".join(f"{s} {m:.2f}" for s, m in zip(SIGMAS, means)), flush=True)
            axis.plot(SIGMAS, means, "o-", label=LABELS.get(method, method), linewidth=2.5 if "lumasift" in method
                      else 1.2)
        axis.set_title(f"{len(names)} {kind} photographs ({', '.join(n.split('.')[0] for n in names)})",
                       fontsize=9)
        axis.set_xlabel("noise deviation sigma (uint8, clipped)")
        axis.grid(alpha=0.3)
    axes[0].set_ylabel("mean PSNR (dB)")
    axes[0].legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(os.path.join(out, "psnr.png"), dpi=110)


def fastest(call, repeats=3):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def processor():
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            return next(line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name"))
    except (OSError, StopIteration):
        return platform.machine()


def speed_figure(photo_dir, out):
    astronaut = load(photo_dir, "astronaut.png")
    rng = np.random.default_rng(4)
    seconds = {"lumasift, defaults": [], "bilateral": []}
    for megapixels in MEGAPIXELS:
        rows = int(round(np.sqrt(megapixels * 1e6 * 2 / 3)))
        cols = int(round(megapixels * 1e6 / rows))
        tiled = np.tile(astronaut, (rows // 512 + 1, cols // 512 + 1, 1))[:rows, :cols]
        image = np.clip(np.round(tiled + 10 * rng.standard_normal(tiled.shape)), 0, 255).astype(np.uint8)
        seconds["lumasift, defaults"].append(fastest(lambda: lumasift.imlumasift(image)) / megapixels)
        seconds["bilateral"].append(fastest(lambda: cv2.bilateralFilter(image, 9, 75, 75)) / megapixels)
        print(f"speed {megapixels} MP: lumasift {seconds['lumasift, defaults'][-1]:.4f} s/MP, "
              f"bilateral {seconds['bilateral'][-1]:.4f} s/MP", flush=True)
    figure, axis = plt.subplots(figsize=(6, 4))
    for method, values in seconds.items():
        axis.plot(MEGAPIXELS, values, "o-", label=LABELS.get(method, method))
    axis.set_xscale("log")
    axis.set_xticks(MEGAPIXELS, [str(m) for m in MEGAPIXELS])
    axis.set_ylim(bottom=0)
    axis.set_xlabel("megapixels (noisy astronaut, uint8 RGB, sigma 10)")
    axis.set_ylabel("seconds per megapixel, fastest of 3")
    axis.set_title(f"{os.cpu_count()} cores, {processor()}", fontsize=9)
    axis.grid(alpha=0.3)
    axis.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(os.path.join(out, "speed.png"), dpi=110)


def crop_figure(photo_dir, out):
    clean = load(photo_dir, "astronaut.png")
    image = noisy(clean, 20, 20, "uint8")
    region = (slice(40, 240), slice(130, 330))  # the face and the helmet's rim
    shown = {"noisy, sigma 20": image, "lumasift, defaults": lumasift.imlumasift(image),
             **{LABELS[name]: peers(image, 20)[name] for name in ("bilateral", "NL-means")}}
    figure, axes = plt.subplots(1, len(shown), figsize=(3 * len(shown), 3.3))
    for axis, (title, result) in zip(axes, shown.items()):
        axis.imshow(np.clip(np.asarray(result, np.float64)[region], 0, 255).astype(np.uint8))
        axis.set_title(f"{title}\n{psnr(result, clean):.2f} dB (whole image)", fontsize=8)
        axis.axis("off")
        print(f"crop {title}: {psnr(result, clean):.2f} dB", flush=True)
    figure.tight_layout()
    figure.savefig(os.path.join(out, "crop.jpg"), dpi=110, bbox_inches="tight", pil_kwargs={"quality": 90})


def main():
    photo_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "photos")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(REPO, "docs", "figures")
    os.makedirs(out, exist_ok=True)
    crop_figure(photo_dir, out)
    psnr_figure(photo_dir, out)
    speed_figure(photo_dir, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
