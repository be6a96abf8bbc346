function lumasift_demo(image_file, out_file)
%LUMASIFT_DEMO Show lumasift next to a plain Gaussian on a noisy scene.
%   LUMASIFT_DEMO makes a scene of flat shapes on a shaded background with a
%   patch of texture, adds noise, and smooths it with IMLUMASIFT as a user
%   would, with nothing but the image: the noise is estimated, the edges
%   found (LUMASIFT_EDGES) and the widths chosen from it. Next to that, a
%   window twice as wide and a plain Gaussian of the default width. It
%   writes the input, the edge map and the three results side by side, with
%   titles, to lumasift_demo.png in the current folder, and prints what the
%   defaults chose, the peak signal-to-noise ratio of each result against
%   the clean scene and the time the filter took.
%
%   LUMASIFT_DEMO(IMAGE_FILE) does the same with your own picture, gray or
%   colour, of any size, as the clean scene, scaled to values in [0, 1]. A
%   colour picture is smoothed as colour, each opponent channel with its
%   own widths (see IMLUMASIFT), and also with its channels kept apart, for
%   the difference.
%
%   LUMASIFT_DEMO(IMAGE_FILE, OUT_FILE) writes the picture to OUT_FILE; pass
%   '' as IMAGE_FILE for the bundled scene.
%
%   Example:
%      lumasift_demo('', 'out/lumasift_demo.png')
%
%   See also LUMASIFT, IMLUMASIFT, LUMASIFT_EDGES.

if nargin < 1 || isempty(image_file)
    clean = default_scene();
else
    clean = picture_of(image_file);
end
if nargin < 2 || isempty(out_file)
    out_file = 'lumasift_demo.png';
end

noisy = clean + 0.05 * fixed_noise(size(clean));
tic;
[smooth, info] = imlumasift(noisy);
seconds = toc;
fprintf('noise estimate %.4f (added: 0.05), edge threshold %s, x3 = %s, x4 = %s\n', ...
        info.noise, values(info.threshold), values(info.x3), values(info.x4));
fprintf('imlumasift, defaults:         PSNR %5.2f dB, %.1f ms\n', psnr_of(smooth, clean), 1e3 * seconds);
if ~isempty(info.basis)
    apart = imlumasift(noisy, 'Colour', false);
    fprintf('imlumasift, channels apart:   PSNR %5.2f dB\n', psnr_of(apart, clean));
end
edges = lumasift_edges(noisy);
wider = imlumasift(noisy, edges, 2 * info.x3, info.x4);
fprintf('imlumasift, x3 = %s:        PSNR %5.2f dB\n', values(2 * info.x3), psnr_of(wider, clean));
% The luminance's width, for a Gaussian that knows no edges.
gaussian = plain_gaussian(noisy, info.x3(1));
fprintf('plain Gaussian, width %.3f:   PSNR %5.2f dB\n', info.x3(1), psnr_of(gaussian, clean));
fprintf('noisy input:                  PSNR %5.2f dB\n', psnr_of(noisy, clean));

panels = {noisy, 'INPUT'; double(any(edges > 100, 3)), 'EDGE MAP'; ...
          smooth, 'LUMASIFT DEFAULTS'; ...
          wider, sprintf('LUMASIFT %.2f / %.2f', 2 * info.x3(1), info.x4(1)); ...
          gaussian, sprintf('GAUSSIAN %.2f', info.x3(1))};
picture = side_by_side(panels, size(clean, 3));
folder = fileparts(out_file);
if ~isempty(folder) && ~isfolder(folder)
    mkdir(folder);
end
imwrite(uint8(round(255 * picture)), out_file);
fprintf('picture: %s\n', absolute_path(out_file));
end

function scene = default_scene()
% Flat shapes of several grey levels on a shaded background, and a striped
% patch: edges of every direction and contrast.
n = 256;
[c, r] = meshgrid(1:n, 1:n);
scene = 0.3 + 0.2 * c / n;
scene((r - 80) .^ 2 + (c - 80) .^ 2 < 50 ^ 2) = 0.85;
scene(150:225, 30:110) = 0.1;
scene(r > 120 & r < 235 & c > 140 & abs(c - 195) < (r - 120) / 2) = 0.6;
patch = 25:60;
scene(patch, 150:240) = 0.45 + 0.2 * (mod(floor(c(patch, 150:240) / 6), 2) - 0.5);
end

function noise = fixed_noise(shape)
% Nearly Gaussian noise of unit deviation, the same on every run and host.
index = reshape(1:prod(shape), shape);
noise = zeros(shape);
for k = 1:4
    noise = noise + mod(sin(index * 12.9898 + k * 78.233) * 43758.5453, 1);
end
noise = (noise - 2) * sqrt(3);
end

function clean = picture_of(image_file)
% The picture's values in [0, 1]: gray stays gray, colour stays colour.
[pixels, map] = imread(image_file);
if ~isempty(map)
    pixels = ind2rgb(pixels, map);
end
if isinteger(pixels)
    clean = double(pixels) / double(intmax(class(pixels)));
else
    clean = double(pixels);
end
clean = clean(:, :, 1:min(end, 3));
end

function smooth = plain_gaussian(image, sigma)
% lumasift's weights and window without edges: exp(-d^2 / (2 sigma)^2) over
% half-width fix(3 sigma + 1), normalised where the window leaves the image.
reach = fix(3 * sigma + 1);
[dc, dr] = meshgrid(-reach:reach);
kernel = exp(-(dr .^ 2 + dc .^ 2) / (2 * sigma) ^ 2);
weights = conv2(ones(size(image, 1), size(image, 2)), kernel, 'same');
smooth = zeros(size(image));
for c = 1:size(image, 3)
    smooth(:, :, c) = conv2(image(:, :, c), kernel, 'same') ./ weights;
end
end

% One value, or one for each opponent channel, as text.
function text = values(v)
text = strjoin(arrayfun(@(x) sprintf('%.3f', x), v, 'UniformOutput', false), ' ');
end

function path = absolute_path(path)
if ~(startsWith(path, '/') || startsWith(path, '\') || (numel(path) > 1 && path(2) == ':'))
    path = fullfile(pwd, path);
end
end

function value = psnr_of(image, clean)
value = 10 * log10(1 / mean((image(:) - clean(:)) .^ 2));
end

function picture = side_by_side(panels, channels)
% The panels in a row on a dark ground, each under its title; gray panels
% of a colour picture are repeated in every channel.
[height, width, ~] = size(panels{1, 1});
gap = 8;
title_height = 22;
picture = 0.15 * ones(title_height + height + gap, size(panels, 1) * (width + gap) + gap, channels);
for k = 1:size(panels, 1)
    left = gap + (k - 1) * (width + gap);
    panel = min(max(panels{k, 1}, 0), 1);
    picture(title_height + (1:height), left + (1:width), :) = repmat(panel, [1 1 channels / size(panel, 3)]);
    text = title_pixels(panels{k, 2});
    text = text(:, 1:min(end, width));
    rows = 4 + (1:size(text, 1));
    cols = left + (1:size(text, 2));
    picture(rows, cols, :) = max(picture(rows, cols, :), repmat(text, [1 1 channels]));
end
end

function pixels = title_pixels(text)
% The text in a 5 by 7 pixel font drawn twice as large, white on black.
[chars, rows] = font();
scale = 2;
pixels = zeros(7 * scale, 6 * scale * numel(text));
for k = 1:numel(text)
    glyph = find(chars == upper(text(k)), 1);
    if isempty(glyph)
        continue;
    end
    bits = bitand(repmat(rows(glyph, :)', 1, 5), repmat(2 .^ (4:-1:0), 7, 1)) > 0;
    block = kron(double(bits), ones(scale));
    pixels(:, (k - 1) * 6 * scale + (1:5 * scale)) = block;
end
end

function [chars, rows] = font()
% Each glyph is seven rows of five bits, the top row first.
chars = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.=-/,():';
rows = [
    14 17 17 31 17 17 17; 30 17 17 30 17 17 30; 14 17 16 16 16 17 14; 30 17 17 17 17 17 30;
    31 16 16 30 16 16 31; 31 16 16 30 16 16 16; 14 17 16 23 17 17 15; 17 17 17 31 17 17 17;
    14 4 4 4 4 4 14; 7 2 2 2 2 18 12; 17 18 20 24 20 18 17; 16 16 16 16 16 16 31;
    17 27 21 21 17 17 17; 17 17 25 21 19 17 17; 14 17 17 17 17 17 14; 30 17 17 30 16 16 16;
    14 17 17 17 21 18 13; 30 17 17 30 20 18 17; 15 16 16 14 1 1 30; 31 4 4 4 4 4 4;
    17 17 17 17 17 17 14; 17 17 17 17 17 10 4; 17 17 17 21 21 21 10; 17 17 10 4 10 17 17;
    17 17 10 4 4 4 4; 31 1 2 4 8 16 31; 14 17 19 21 25 17 14; 4 12 4 4 4 4 14;
    14 17 1 2 4 8 31; 31 2 4 2 1 17 14; 2 6 10 18 31 2 2; 31 16 30 1 1 17 14;
    6 8 16 30 17 17 14; 31 1 2 4 8 8 8; 14 17 17 14 17 17 14; 14 17 17 15 1 2 12;
    0 0 0 0 0 12 12; 0 0 31 0 31 0 0; 0 0 0 31 0 0 0; 0 1 2 4 8 16 0;
    0 0 0 0 12 4 8; 2 4 8 8 8 4 2; 8 4 2 2 2 4 8; 0 12 12 0 12 12 0];
end
