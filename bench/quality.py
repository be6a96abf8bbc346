"""Denoising quality of imlumasift's defaults, photograph by photograph,
against each photograph's own best setting and the filters users would pick
instead; and the noise reading against the truth.

    /usr/bin/python3 bench/quality.py [PHOTO_DIR]

PHOTO_DIR holds scikit-image's photographs (scripts/photos.sh fetches them;
default: photos/). The lumasift package is taken from build/bench-python-site,
where scripts/bench.sh installs it, or from the path. Each photograph gets
Gaussian noise of deviation 10, 20 and 30 with fixed seeds, stored two ways:
as doubles in [0, 255], unclipped, and as cameras store it, uint8, rounded
and clipped at 0 and 255. For each it prints the PSNR of imlumasift(N) with
nothing but the image (colour photographs smoothed as colour), the same with
the channels kept apart (colour=False), the best of a grid that knows the
true noise (doubles only: x3 0.7 to 2, x4 0.3 to 1, edge threshold 0.3 to 1
times sigma), OpenCV's bilateral filter and self-guided filter,
scikit-image's NL-means told the true sigma, and the clean photograph through
imlumasift; and the noise read against the truth (at 5 to 30, mean and worst
of four draws, doubles). Then the means over the colour and the grey
photographs of each set, the worst photograph, and the worst reading."""
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
STORAGE = ("doubles", "uint8")
METHODS = ("default", "apart", "best", "bilateral", "self-guided", "NL-means")


def load(photo_dir, name):
    image = io.imread(os.path.join(photo_dir, name)).astype(np.float64)
    return image[:, :, :3] if image.ndim == 3 else image


def noisy(clean, sigma, seed, storage="doubles"):
    image = clean + sigma * np.random.default_rng(seed).standard_normal(clean.shape)
    if storage == "uint8":
        image = np.clip(np.round(image), 0, 255).astype(np.uint8)
    return np.asfortranarray(image)


def psnr(result, clean):
    error = np.mean((np.asarray(result, np.float64) - clean) ** 2)
    return 10 * np.log10(255.0 ** 2 / error) if error > 0 else np.inf  # inf: returned unchanged


def grid_best(noisy_image, clean, sigma):
    # The edge maps scale as 1 / threshold: their magnitudes are found once.
    magnitude = lumasift.lumasift_edges(noisy_image, 1.0)
    best = -np.inf
    for t in GRID_THRESHOLD:
        edges = np.asfortranarray(magnitude / (t * sigma))
        for x3, x4 in itertools.product(GRID_X3, GRID_X4):
            best = max(best, psnr(lumasift.imlumasift(noisy_image, edges, sigma_near=x3, sigma_far=x4), clean))
    return best


def peers(noisy_image, sigma):
    # OpenCV filters float32 [0, 255] images and uint8 ones, colour ones as 3 channels.
    image = noisy_image if noisy_image.dtype == np.uint8 else noisy_image.astype(np.float32)
    return {"bilateral": cv2.bilateralFilter(image, 9, 75, 75),
            "self-guided": cv2.ximgproc.guidedFilter(image, image, 4, (0.1 * 255) ** 2),
            "NL-means": denoise_nl_means(noisy_image.astype(np.float64), h=0.8 * sigma, sigma=sigma, patch_size=5,
                                         patch_distance=6, fast_mode=True,
                                         channel_axis=-1 if noisy_image.ndim == 3 else None)}


def measure(photo_dir, name, index):
    clean = load(photo_dir, name)
    row = {"reading": {}, "colour": clean.ndim == 3}
    for sigma in READ_AT:
        readings = [lumasift.image_statistics(noisy(clean, sigma, 1000 * index + 100 * draw + sigma))["noise"] / sigma
                    for draw in range(READ_SEEDS)]
        row["reading"][sigma] = (np.mean(readings), max(readings, key=lambda r: abs(r - 1)))
    for storage, sigma in itertools.product(STORAGE, SIGMAS):
        image = noisy(clean, sigma, 1000 * index + sigma, storage)
        results = {"default": psnr(lumasift.imlumasift(image), clean),
                   "apart": psnr(lumasift.imlumasift(image, colour=False), clean),
                   "best": grid_best(image, clean, sigma) if storage == "doubles" else np.nan}
        results.update({peer: psnr(result, clean) for peer, result in peers(image, sigma).items()})
        for method, value in results.items():
            row.setdefault((storage, method), {})[sigma] = value
    row["clean"] = psnr(lumasift.imlumasift(np.asfortranarray(clean)), clean)
    row["clean reading"] = lumasift.image_statistics(np.asfortranarray(clean))["noise"]
    return row


def print_set(set_name, rows):
    print(f"\n### {set_name} photographs: PSNR (dB) of " + " / ".join(METHODS) +
          "; the clean photograph through imlumasift; the reading over the true sigma\n")
    print("| photograph | stored | " + " | ".join(f"sigma {s}" for s in SIGMAS) + " | clean | reading at "
          + ", ".join(str(s) for s in READ_AT) + f": mean (worst) of {READ_SEEDS} draws |")
    print("|---|---|" + "---|" * (len(SIGMAS) + 2))
    for name, row in rows.items():
        for storage in STORAGE:
            cells = [" / ".join(f"{row[storage, m][s]:.2f}" for m in METHODS) for s in SIGMAS]
            tail = " | |"
            if storage == STORAGE[0]:
                readings = ", ".join(f"{row['reading'][s][0]:.3f} ({row['reading'][s][1]:.3f})" for s in READ_AT)
                tail = f" | {row['clean']:.1f} (reads {row['clean reading']:.2f}) | {readings} |"
            print(f"| {name.split('.')[0]} | {storage} | " + " | ".join(cells) + tail)
    for kind, members in (("colour", [r for r in rows.values() if r["colour"]]),
                          ("grey", [r for r in rows.values() if not r["colour"]])):
        if not members:
            continue
        for storage in STORAGE:
            means = [" / ".join(f"{np.mean([r[storage, m][s] for r in members]):.2f}" for m in METHODS)
                     for s in SIGMAS]
            print(f"| **mean, {len(members)} {kind}** | {storage} | " + " | ".join(means) +
                  f" | {min(r['clean'] for r in members):.1f} (worst) | |")
    for s in SIGMAS:
        gaps = {name: row["doubles", "best"][s] - row["doubles", "default"][s] for name, row in rows.items()}
        worst = max(gaps, key=gaps.get)
        gains = {(name, storage): row[storage, "default"][s] - row[storage, "apart"][s]
                 for name, row in rows.items() if row["colour"] for storage in STORAGE}
        least = min(gains, key=gains.get) if gains else None
        print(f"sigma {s}: mean gap to the own best {np.mean(list(gaps.values())):.2f} dB, "
              f"worst {gaps[worst]:.2f} dB ({worst.split('.')[0]})"
              + (f"; colour against channels apart, least {gains[least]:+.2f} dB ({least[0].split('.')[0]}, "
                 f"{least[1]})" if gains else ""))
    errors = {(name, s): abs(row["reading"][s][1] - 1) for name, row in rows.items() for s in READ_AT}
    worst = max(errors, key=errors.get)
    print(f"worst reading: {100 * errors[worst]:.1f}% off ({worst[0].split('.')[0]}, sigma {worst[1]})")


def main():
    photo_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "photos")
    for set_name, names in SETS.items():
        print_set(set_name, {name: measure(photo_dir, name, index) for index, name in enumerate(names)})
    return 0


if __name__ == "__main__":
    sys.exit(main())
