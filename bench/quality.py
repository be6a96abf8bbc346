"""Denoising quality of imlumasift's defaults against its own best fixed
parameters and against OpenCV's and scikit-image's filters.

    /usr/bin/python3 bench/quality.py [MODULE_DIR]

MODULE_DIR holds the built modules (default: build/ in the repository).
Five photographs of scikit-image, Gaussian noise of sigma 10, 20 and 30 added
without clipping (fixed seeds), and the clean photographs. Prints one
markdown table of mean PSNR and SSIM, then the parameters the default chose.
Our filter runs in one octave-cli process; arrays go through .mat files."""
import itertools
import os
import subprocess
import sys
import tempfile

import cv2
import numpy as np
import scipy.io
from skimage import data
from skimage.metrics import structural_similarity
from skimage.restoration import denoise_nl_means

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIGMAS = (10, 20, 30)
LEVELS = SIGMAS + (0,)  # 0: the clean photograph, no noise added
# The grid the default must come close to: one triple for all images.
GRID_X3 = (0.5, 0.7, 0.85, 1, 1.25, 1.5, 2)
GRID_X4 = (0.3, 0.45, 0.6, 0.8)
GRID_THRESHOLD = (0.25, 0.35, 0.5, 0.7, 1.0)  # times sigma


def photographs():
    astronaut = data.astronaut()
    return [("astronaut", astronaut), ("astronaut green", astronaut[:, :, 1]),
            ("coffee", data.coffee()), ("chelsea", data.chelsea()), ("camera", data.camera())]


def noisy(clean, sigma, seed):
    return clean + sigma * np.random.default_rng(seed).standard_normal(clean.shape)


# Octave side. Functions in a script file need the leading "1;".
OCTAVE = r"""1;
function p = psnr(J, I)
  p = 10 * log10(255^2 / mean((double(J(:)) - I(:)).^2));
end

addpath(module_dir);
d = load(fullfile(work, 'in.mat'));
out = struct();
for k = 1:d.count
  I = d.(sprintf('I_%d', k));
  for s = d.levels
    for kind = {'N', 'U'}  % N double, U the same noisy image as uint8
      name = sprintf('%s_%d_%d', kind{1}, k, s);
      [J, info] = imlumasift(d.(name));
      out.(['D' name]) = J;
      out.(['P' name]) = [info.noise, info.x3, info.x4, info.threshold];
    end
  end
end
% The best single triple of the grid per sigma, by mean PSNR. The magnitude
% is found once per image: the edge map scales as 1 / threshold.
for s = d.sigmas
  for k = 1:d.count
    N{k} = d.(sprintf('N_%d_%d', k, s));
    E1{k} = lumasift_edges(N{k}, 1);
  end
  best = -Inf;
  for triple = d.grid'
    total = 0;
    for k = 1:d.count
      J = imlumasift(N{k}, E1{k} / (triple(3) * s), triple(1), triple(2));
      total = total + psnr(J, d.(sprintf('I_%d', k)));
    end
    if total > best
      best = total;
      out.(sprintf('G_%d', s)) = triple';
    end
  end
  t = out.(sprintf('G_%d', s));
  for k = 1:d.count
    out.(sprintf('GN_%d_%d', k, s)) = imlumasift(N{k}, E1{k} / (t(3) * s), t(1), t(2));
  end
end
save('-v7', fullfile(work, 'out.mat'), '-struct', 'out');
"""


def run_octave(module_dir, images):
    with tempfile.TemporaryDirectory() as work:
        inputs = {"count": len(images), "levels": np.array(LEVELS, float), "sigmas": np.array(SIGMAS, float),
                  "grid": np.array(list(itertools.product(GRID_X3, GRID_X4, GRID_THRESHOLD)))}
        for k, (clean, by_level) in enumerate(images, 1):
            inputs[f"I_{k}"] = clean
            for s, n in by_level.items():
                inputs[f"N_{k}_{s}"] = n
                inputs[f"U_{k}_{s}"] = np.clip(np.round(n), 0, 255).astype(np.uint8)
        scipy.io.savemat(os.path.join(work, "in.mat"), inputs)
        script = os.path.join(work, "quality.m")
        with open(script, "w") as f:
            f.write(f"work = '{work}';\nmodule_dir = '{module_dir}';\n" + OCTAVE)
        env = dict(os.environ, OCTAVE_HISTFILE="/dev/null")
        subprocess.run(["octave-cli", "--norc", "--quiet", script], check=True, env=env)
        return scipy.io.loadmat(os.path.join(work, "out.mat"), squeeze_me=True)


def scores(clean, result):
    result = np.asarray(result, np.float64)
    error = np.mean((result - clean) ** 2)
    psnr = 10 * np.log10(255.0 ** 2 / error) if error > 0 else np.inf  # inf: returned unchanged
    channel_axis = -1 if clean.ndim == 3 else None
    return psnr, structural_similarity(clean, result, data_range=255, channel_axis=channel_axis)


def peers(n, sigma):
    # OpenCV filters float32 [0, 255] images, colour ones as 3 channels.
    n32 = n.astype(np.float32)
    found = {"OpenCV bilateral 9/75/75": cv2.bilateralFilter(n32, 9, 75, 75),
             "OpenCV self-guided r=4, eps=(0.1*255)^2": cv2.ximgproc.guidedFilter(n32, n32, 4, (0.1 * 255) ** 2)}
    if sigma > 0:  # NL-means is told the true sigma, which no other filter here knows
        found["skimage NL-means (true sigma)"] = denoise_nl_means(
            n, h=0.8 * sigma, sigma=sigma, patch_size=5, patch_distance=6, fast_mode=True,
            channel_axis=-1 if n.ndim == 3 else None)
    return found


def main():
    module_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build"))
    images = []
    for k, (_, picture) in enumerate(photographs()):
        clean = picture.astype(np.float64)
        by_level = {s: noisy(clean, s, 100 * k + s) if s else clean for s in LEVELS}
        images.append((clean, by_level))
    ours = run_octave(module_dir, images)

    # table[method][level] collects (psnr, ssim) over the images.
    table = {}
    def add(method, level, clean, result):
        table.setdefault(method, {}).setdefault(level, []).append(scores(clean, result))
    for k, (clean, by_level) in enumerate(images, 1):
        for s, n in by_level.items():
            if s:
                add("noisy input", s, clean, n)
                add("lumasift, best grid triple", s, clean, ours[f"GN_{k}_{s}"])
            add("lumasift default", s, clean, ours[f"DN_{k}_{s}"])
            add("lumasift default, uint8 in and out", s, clean, ours[f"DU_{k}_{s}"])
            for method, result in peers(n, s).items():
                add(method, s, clean, result)

    heads = [f"sigma {s}" for s in SIGMAS] + ["clean"]
    print(f"Mean PSNR (dB) / SSIM over {len(images)} photographs; noise unclipped, fixed seeds.\n")
    print("| method | " + " | ".join(heads) + " |")
    print("|---|" + "---|" * len(heads))
    for method, by_level in table.items():
        cells = []
        for s in LEVELS:
            if s in by_level:
                psnr, ssim = np.mean(by_level[s], axis=0)
                cells.append(f"{psnr:.2f} / {ssim:.4f}")
            else:
                cells.append("-")
        print(f"| {method} | " + " | ".join(cells) + " |")

    print("\nBest grid triples (x3, x4, threshold/sigma): " +
          ", ".join(f"sigma {s}: ({', '.join(f'{v:g}' for v in ours[f'G_{s}'])})" for s in SIGMAS))
    worst = min(table["lumasift default"][0])[0]
    print(f"Worst clean photograph through the default: {worst:.2f} dB")
    print("Default's choices (means over the images, double input):")
    for s in LEVELS:
        noise, x3, x4, threshold = np.mean([ours[f"PN_{k}_{s}"] for k in range(1, len(images) + 1)], axis=0)
        relative = f"{threshold / s:.3f} sigma" if s else f"{threshold:.3f}"
        print(f"  {'clean' if s == 0 else f'sigma {s}':>8}: noise {noise:6.2f}, x3 {x3:.3f}, x4 {x4:.3f}, threshold {relative}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
