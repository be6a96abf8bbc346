"""Denoising quality of imlumasift's defaults, photograph by photograph,
against each photograph's own best setting and the filters users would pick
instead; and the noise reading against the truth.

    /usr/bin/python3 bench/quality.py [PHOTO_DIR]

PHOTO_DIR holds scikit-image's photographs (scripts/photos.sh fetches them;
default: photos/). The lumasift package is taken from build/bench-python-site,
where scripts/bench.sh installs it, or from the path. Each photograph, as
doubles in [0, 255], gets Gaussian noise of deviation 10, 20 and 30 added,
unclipped, with fixed seeds. For each it prints the noise read against the
truth (at 5 to 30, mean and worst of four draws), the PSNR of imlumasift(N) with nothing but the image,
the best of a grid that knows the true noise (x3 0.7 to 2, x4 0.3 to 1,
edge threshold 0.3 to 1 times sigma), OpenCV's bilateral filter and
self-guided filter, scikit-image's NL-means told the true sigma, and the
clean photograph through imlumasift. Then the means, the worst photograph,
and the worst reading of each set."""
import itertools
import os
import sys

import cv2
import numpy as np
from skimage import io
from skimage.restoration import denoise_nl_means

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "build", "bench-python-site"))
import lumasift  # noqa: E402

SIGMAS = (10, 20, 30)
READ_AT = (5, 10, 20, 30)
READ_SEEDS = 4  # a reading's spread over noise draws matters as much as its bias
GRID_X3 = (0.7, 0.85, 1.0, 1.2, 1.4, 1.7, 2.0)
GRID_X4 = (0.3, 0.4, 0.5, 0.65, 0.8, 1.0)
GRID_THRESHOLD = (0.3, 0.4, 0.5, 0.7, 1.0)  # times sigma
# Two kinds of photograph: ordinary scenes, and pictures made of texture.
SETS = {
    "ordinary": ["astronaut.png", "camera.png", "coffee.png", "chelsea.png", "hubble_deep_field.jpg", "retina.jpg",
                 "rocket.jpg", "motorcycle_left.png", "coins.png", "moon.png", "cell.png", "clock_motion.png"],
    "texture": ["brick.png", "grass.png", "gravel.png", "page.png", "text.png", "ihc.png"],
}


def load(photo_dir, name):
    image = io.imread(os.path.join(photo_dir, name)).astype(np.float64)
    return image[:, :, :3] if image.ndim == 3 else image


def noisy(clean, sigma, seed):
    return clean + sigma * np.random.default_rng(seed).standard_normal(clean.shape)


def psnr(result, clean):
    error = np.mean((np.asarray(result, np.float64) - clean) ** 2)
    return 10 * np.log10(255.0 ** 2 / error) if error > 0 else np.inf  # inf: returned unchanged


def grid_best(noisy_image, clean, sigma):
    # The edge map scales as 1 / threshold: its magnitude is found once.
    magnitude = lumasift.lumasift_edges(noisy_image, 1.0)
    best = -np.inf
    for t in GRID_THRESHOLD:
        edges = np.asfortranarray(magnitude / (t * sigma))
        for x3, x4 in itertools.product(GRID_X3, GRID_X4):
            best = max(best, psnr(lumasift.imlumasift(noisy_image, edges, x3, x4), clean))
    return best


def peers(noisy_image, sigma):
    # OpenCV filters float32 [0, 255] images, colour ones as 3 channels.
    n32 = noisy_image.astype(np.float32)
    return {"bilateral": cv2.bilateralFilter(n32, 9, 75, 75),
            "self-guided": cv2.ximgproc.guidedFilter(n32, n32, 4, (0.1 * 255) ** 2),
            "NL-means": denoise_nl_means(noisy_image, h=0.8 * sigma, sigma=sigma, patch_size=5, patch_distance=6,
                                         fast_mode=True, channel_axis=-1 if noisy_image.ndim == 3 else None)}


def measure(photo_dir, name, index):
    clean = load(photo_dir, name)
    row = {"reading": {}, "default": {}, "best": {}}
    for sigma in READ_AT:
        image = np.asfortranarray(noisy(clean, sigma, 1000 * index + sigma))
        readings = [lumasift.image_statistics(image)["noise"] / sigma]
        for draw in range(1, READ_SEEDS):
            other = np.asfortranarray(noisy(clean, sigma, 1000 * index + 100 * draw + sigma))
            readings.append(lumasift.image_statistics(other)["noise"] / sigma)
        row["reading"][sigma] = (np.mean(readings), max(readings, key=lambda r: abs(r - 1)))
        if sigma in SIGMAS:
            row["default"][sigma] = psnr(lumasift.imlumasift(image), clean)
            row["best"][sigma] = grid_best(image, clean, sigma)
            for peer, result in peers(image, sigma).items():
                row.setdefault(peer, {})[sigma] = psnr(result, clean)
    row["clean"] = psnr(lumasift.imlumasift(np.asfortranarray(clean)), clean)
    row["clean reading"] = lumasift.image_statistics(np.asfortranarray(clean))["noise"]
    return row


def main():
    photo_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "photos")
    methods = ["default", "best", "bilateral", "self-guided", "NL-means"]
    for set_name, names in SETS.items():
        rows = {name: measure(photo_dir, name, index) for index, name in enumerate(names)}
        print(f"\n### {set_name} photographs: PSNR (dB) of imlumasift(N) / own grid best / bilateral / "
              "self-guided / NL-means; the reading over the true sigma\n")
        print("| photograph | " + " | ".join(f"sigma {s}" for s in SIGMAS) + " | clean | reading at "
              + ", ".join(str(s) for s in READ_AT) + f": mean (worst) of {READ_SEEDS} draws |")
        print("|---|" + "---|" * (len(SIGMAS) + 2))
        for name, row in rows.items():
            cells = [" / ".join(f"{row[m][s]:.2f}" for m in methods) for s in SIGMAS]
            readings = ", ".join(f"{row['reading'][s][0]:.3f} ({row['reading'][s][1]:.3f})" for s in READ_AT)
            print(f"| {name.split('.')[0]} | " + " | ".join(cells) +
                  f" | {row['clean']:.1f} (reads {row['clean reading']:.2f}) | {readings} |")
        means = [" / ".join(f"{np.mean([r[m][s] for r in rows.values()]):.2f}" for m in methods) for s in SIGMAS]
        print("| **mean** | " + " | ".join(means) + f" | {min(r['clean'] for r in rows.values()):.1f} (worst) | |")
        for s in SIGMAS:
            gaps = {name: row["best"][s] - row["default"][s] for name, row in rows.items()}
            worst = max(gaps, key=gaps.get)
            print(f"sigma {s}: mean gap to the own best {np.mean(list(gaps.values())):.2f} dB, "
                  f"worst {gaps[worst]:.2f} dB ({worst.split('.')[0]})")
        errors = {(name, s): abs(row["reading"][s][1] - 1) for name, row in rows.items() for s in READ_AT}
        worst = max(errors, key=errors.get)
        print(f"worst reading: {100 * errors[worst]:.1f}% off ({worst[0].split('.')[0]}, sigma {worst[1]})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
