function [E, info] = edges_reference(I, threshold, rule, colour)
% The edge map, the image's statistics and the default widths of imlumasift
% and lumasift_edges, stated plainly and slowly, to compare the modules with.
%   [E, INFO] = EDGES_REFERENCE(I) with the default threshold,
%   EDGES_REFERENCE(I, THRESHOLD) with a given one ([] for the default),
%   EDGES_REFERENCE(I, [], RULE) with the rule's constants of the struct
%   RULE in place of the product's (for tuning them), and
%   EDGES_REFERENCE(I, THRESHOLD, [], false) with a colour image's channels
%   kept apart.
% INFO holds noise, scale, texture, fine_texture, threshold, x3 and x4. A
% colour image (three channels, or four with alpha) is seen in the opponent
% basis (OPPONENT_BASIS): the noise and the scale are read in its stored
% colour channels, and each opponent channel has its own texture measures,
% widths, threshold and edge map, E(:, :, c).
if nargin < 2
    threshold = [];
end
if nargin < 3 || isempty(rule)
    rule = default_rule();
end
[rows, cols, channels] = size(I);
if (nargin < 4 || colour) && any(channels == [3 4])
    stored = I(:, :, 1:3);
    [info.scale, lowest, highest] = intensity_scale(stored);
    info.noise = noise_statistics(stored, lowest, highest);
    planes = opponent_channels(stored);
    sets = 3;
else
    [info.scale, lowest, highest] = intensity_scale(I);
    [info.noise, info.texture, info.fine_texture, info.structure] = noise_statistics(I, lowest, highest);
    planes = {I};
    sets = 1;
end
relative = 0;
if info.scale > 0
    relative = info.noise / info.scale;
end
E = zeros(rows, cols, sets);
for s = 1:sets
    if sets > 1
        [~, info.texture(s), info.fine_texture(s), info.structure(s)] = ...
            noise_statistics(planes{s}, -Inf, Inf, info.noise);
    end
    texture = struct('texture', info.texture(s), 'fine_texture', info.fine_texture(s));
    info.x3(s) = width(rule.x3, relative, texture);
    info.x4(s) = width(rule.x4, relative, texture);
    if isempty(threshold)
        % Noise alone would mark a pixel with this probability; never less
        % than a hundredth of the scale; and on a clean image, one whose
        % noise reads below a hundredth of the scale, the structure, giving
        % way to the noise by two hundredths.
        clean = clamp((0.02 - relative) / (0.02 - 0.01), 0, 1);
        structure = info.structure(s);
        if isnan(structure)
            structure = 0;
        end
        info.threshold(s) = max([info.noise * GRADIENT_NOISE_GAIN() * ...
            sqrt(-2 * log(1 - (1 - rule.false_edges)^(1 / max(size(planes{s}, 3), 1)))), 0.01 * info.scale, ...
            clean * structure]);
    else
        info.threshold(s) = double(threshold(min(s, end)));
    end
    if isempty(I)
        continue;
    end
    magnitude = -Inf(rows, cols);
    for c = 1:size(planes{s}, 3)
        magnitude = max(magnitude, gradient_magnitude(double(planes{s}(:, :, c))));
    end
    magnitude(magnitude == -Inf) = NaN;
    if info.threshold(s) > 0
        E(:, :, s) = (100 * magnitude) / info.threshold(s);
    end
end
end

% The rows (1, 1, 1) / sqrt(3), (1, 0, -1) / sqrt(2) and (1, -2, 1) / sqrt(6),
% each entry the double nearest.
function B = OPPONENT_BASIS()
third = 0.57735026918962576451;
half = 0.70710678118654752440;
sixth = 0.40824829046386301637;
B = [third, third, third; half, 0, -half; sixth, -2 * sixth, sixth];
end

% Each opponent channel, (b1 x1 + b2 x2) + b3 x3, of the values as doubles.
function planes = opponent_channels(I)
B = OPPONENT_BASIS();
x = double(I);
planes = cell(1, 3);
for c = 1:3
    planes{c} = (B(c, 1) * x(:, :, 1) + B(c, 2) * x(:, :, 2)) + B(c, 3) * x(:, :, 3);
end
end

function rule = default_rule()
rule.false_edges = 0.004;
% log x = a + b log(max(texture, 1)) + c log(fine_texture + 0.01), held
% within [least, most], then at most per_noise * noise / scale.
rule.x3 = struct('constant', 0.1105, 'per_log_texture', -0.7046, 'per_log_fine_texture', -0.1556, ...
                 'least', 0.4, 'most', 2.4, 'per_noise', 60);
rule.x4 = struct('constant', -1.4606, 'per_log_texture', 0.1427, 'per_log_fine_texture', -0.24, ...
                 'least', 0.15, 'most', 1.25, 'per_noise', 20);
end

function x = width(r, relative, info)
if ~(relative > 0) || isnan(info.texture)
    x = 0.01;
    return;
end
fitted = exp((r.constant + r.per_log_texture * log(max(info.texture, 1))) + ...
             r.per_log_fine_texture * log(info.fine_texture + 0.01));
x = max(min(min(max(fitted, r.least), r.most), r.per_noise * relative), 0.01);
end

% The standard deviation, in units of the noise's, of each component of the
% gradient below: sqrt(sum([1 4 5 0 5 4 1].^2) * sum([1 4 6 4 1].^2)) / 512.
function g = GRADIENT_NOISE_GAIN()
g = sqrt(84 * 70) / 512;
end

function v = clamp(v, least, most)
v = min(max(v, least), most);
end

% Binomial smoothing [1 4 6 4 1] down the columns, then along the rows, the
% border repeated outward, unscaled; central differences with the border
% repeated; the magnitude scaled by 1/512 (the smoothing's 256 and the
% difference's 2).
function magnitude = gradient_magnitude(X)
[rows, cols] = size(X);
r = @(k) min(max(k, 1), rows);
c = @(k) min(max(k, 1), cols);
k = 1:rows;
down = ((X(r(k - 2), :) + X(r(k + 2), :)) + 4 * (X(r(k - 1), :) + X(r(k + 1), :))) + 6 * X;
k = 1:cols;
S = ((down(:, c(k - 2)) + down(:, c(k + 2))) + 4 * (down(:, c(k - 1)) + down(:, c(k + 1)))) + 6 * down;
gy = S(r(2:rows + 1), :) - S(r(0:rows - 1), :);
gx = S(:, c(2:cols + 1)) - S(:, c(0:cols - 1));
magnitude = sqrt(gx .* gx + gy .* gy) / 512;
end

% The noise's deviation and the texture measures: 8-by-8 blocks starting
% every STEP pixels from the image's start (8, or 4, 2, 1 on images with
% fewer than 2048 blocks side by side), every STRIDE-th down and across
% (beyond 131072 blocks), each through the orthonormal DCT; blocks holding
% a value at a clipping level, or whose energies are not finite, left out.
% Each block's values are counted by keys, the upper 13 bits of their
% single-precision patterns; the noise is read in two steps from the blocks
% chosen by their energy in one set of frequencies, in the other set, on the
% frequencies emptiest of texture.
% With NOISE given, only the texture measures are read, next to it. The
% structure: the gradient magnitude of the edge map at the four central
% pixels of each block counted, which need no border, at rank
% floor(0.75 * count).
function [noise, texture, fine_texture, structure] = noise_statistics(I, lowest, highest, noise)
given = nargin > 3;
[rows, cols, channels] = size(I);
if ~given
    noise = 0;
end
texture = NaN;
fine_texture = NaN;
structure = NaN;
starts = @(length, step, stride) ceil(max(floor((length - 8) / step) + 1, 0) / stride);
blocks = @(step, stride) starts(rows, step, stride) * starts(cols, step, stride) * channels;
step = 8;
while step > 1 && blocks(step, 1) < 2048
    step = step / 2;
end
stride = 1;
while step == 8 && blocks(8, stride) > 131072
    stride = stride + 1;
end
if islogical(I)
    lowest = 0;
    highest = 1;
elseif isinteger(I)
    lowest = double(intmin(class(I)));
    highest = double(intmax(class(I)));
end
% The blocks: B(k, q, n) is row k, column q of block n; colour the square
% of its first pixel on the lattice's checkerboard of 8 * STRIDE squares.
span = step * stride;
[row, col, c] = ndgrid(0:span:rows - 8, 0:span:cols - 8, 1:channels);
B = zeros(8, 8, numel(row));
for n = 1:numel(row)
    B(:, :, n) = I(row(n) + (1:8), col(n) + (1:8), c(n));
end
colour = mod(floor(row(:) / (8 * stride)) + floor(col(:) / (8 * stride)), 2);
% A central pixel's gradient reaches three pixels, all in its block: the
% whole channel's map has it.
G = zeros(rows, cols, channels);
for k = 1:channels
    G(:, :, k) = gradient_magnitude(double(I(:, :, k)));
end
gradients = G(sub2ind(size(G), row(:) + [4, 5, 4, 5], col(:) + [4, 4, 5, 5], repmat(c(:), 1, 4)))';
clipped = reshape(any(any(B <= lowest | B >= highest, 1), 2), [], 1);
B = B(:, :, ~clipped);
colour = colour(~clipped);
gradients = gradients(:, ~clipped);
% The DCT along the rows, then down the columns, each sum in the order of
% its terms.
T = dct_table();
count = size(B, 3);
Z = zeros(8, 8, count);
for v = 1:8
    Z(:, v, :) = T(v, 1) * B(:, 1, :);
    for q = 2:8
        Z(:, v, :) = Z(:, v, :) + T(v, q) * B(:, q, :);
    end
end
C = zeros(8, 8, count);
for u = 1:8
    C(u, :, :) = T(u, 1) * Z(1, :, :);
    for k = 2:8
        C(u, :, :) = C(u, :, :) + T(u, k) * Z(k, :, :);
    end
end
% Energies in sets 0 (u + v even) and 1 (odd) of frequencies u + v >= 3,
% the mean powers of bands 3..5 and 6..9, each sum in the order u, then v.
energy = zeros(count, 2);
mid = zeros(count, 1);
fine = zeros(count, 1);
members = {[], []};
for u = 0:7
    for v = 0:7
        power = reshape(C(u + 1, v + 1, :) .* C(u + 1, v + 1, :), count, 1);
        f = u + v;
        if f >= 3
            energy(:, mod(f, 2) + 1) = energy(:, mod(f, 2) + 1) + power;
            members{mod(f, 2) + 1}(end + 1) = u + 8 * v;
        end
        if f >= 3 && f <= 5
            mid = mid + power;
        end
        if f >= 6 && f <= 9
            fine = fine + power;
        end
    end
end
mid = mid / 15;
fine = fine / 28;
counted = all(isfinite([energy, mid, fine]), 2);
gradients = gradients(:, counted);
if ~isempty(gradients)
    structure = value_of_key(quantile_key(gradients(:), 0.75));
end
C = reshape(C, 64, count);
C = C(:, counted);  % row u + 8 v + 1 of column n: coefficient (u, v) of block n
energy = energy(counted, :);
colour = colour(counted);
mid = mid(counted);
fine = fine(counted);
if isempty(energy)
    return;
end
if ~given
    % The first reading: the tenth of the blocks quietest in a set.
    for s = 1:2
        energy_key(s) = quantile_key(energy(:, s), 0.1);
    end
    [selection, window] = place_window(energy_key, members);
    first = read_noise(C, energy, colour, selection, window, members);
    % The second: blocks whose energy noise alone reaches 70% of the time, and
    % never fewer than 2% of them.
    quantiles = [31.3908754529196, 33.53023292655934];
    for s = 1:2
        energy_key(s) = max(key_of((first * first) * quantiles(s)), quantile_key(energy(:, s), 0.02));
    end
    [selection, window] = place_window(energy_key, members);
    noise = read_noise(C, energy, colour, selection, window, members);
end
variance = noise * noise;
if variance > 0
    texture = median_of(accumarray(key_of(mid) + 1, 1, [4096, 1]), @key_bounds) / variance;
    fine_texture = sum(key_of(fine) > key_of(2 * variance)) / numel(fine);
end
end

% cos((2k + 1) u pi / 16) / 2, and 1 / sqrt(8) for u = 0, from the correctly
% rounded cos(m pi / 16) / 2.
function T = dct_table()
cosine = [0.5, 0.4903926402016152, 0.46193976625564337, 0.4157348061512726, ...
          0.3535533905932738, 0.2777851165098011, 0.1913417161825449, 0.09754516100806414];
T = zeros(8);
for u = 0:7
    for k = 0:7
        m = mod(u * (2 * k + 1), 32);
        if m > 16
            m = 32 - m;
        end
        if u == 0
            T(u + 1, k + 1) = cosine(5);
        elseif m > 8
            T(u + 1, k + 1) = -cosine(16 - m + 1);
        else
            T(u + 1, k + 1) = cosine(m + 1);
        end
    end
end
end

function k = key_of(x)
k = double(bitshift(typecast(single(x(:)), 'uint32'), -19));
end

function x = value_of_key(k)
x = double(typecast(uint32(k * 2^19), 'single'));
end

% The key of a share's quantile of the values: of the one at rank
% floor(share * count), counted from 0.
function k = quantile_key(values, share)
keys = sort(key_of(values));
k = keys(min(floor(share * numel(keys)), numel(keys) - 1) + 1);
end

% The counts of |c| go by keys from the window's, WINDOW_BELOW = 192 below
% the root mean square coefficient of the chosen blocks with most energy.
function [selection, window] = place_window(energy_key, members)
selection = energy_key;
widest = 0;
for s = 1:2
    widest = max(widest, value_of_key(min(energy_key(s) + 1, 4080)) / numel(members{s}));
end
centre = key_of(sqrt(widest));
window = min(max(centre - 192, 0), 4080 - 256);
end

% The lower median of the values counted in BINS, BOUNDS(b) giving the least
% and the greatest value of bin b, as if spread evenly within its bin; NaN
% with none.
function m = median_of(bins, bounds)
count = sum(bins);
if count == 0
    m = NaN;
    return;
end
rank = floor((count - 1) / 2);
passed = cumsum(bins);
b = find(passed > rank, 1);
rank = rank - (passed(b) - bins(b));
[low, high] = bounds(b);
m = low + (high - low) * ((rank + 0.5) / bins(b));
end

% Bin b of a count by keys holds key b - 1.
function [low, high] = key_bounds(b)
low = value_of_key(b - 1);
high = value_of_key(min(b, 4080));
end

% A window's bins: the first for the key of 0, the second for the other
% keys up to the window's, then one for each key, the last for all beyond.
function b = window_bin(keys, window)
b = min(keys - window + 1, 255);
b(keys <= window) = 1;
b(keys == 0) = 0;
end

function [low, high] = window_bounds(b, window)
if b == 1
    low = 0;
    high = 0;
elseif b == 2
    low = 0;
    high = value_of_key(window + 1);
else
    low = value_of_key(window + b - 2);
    high = value_of_key(min(window + b - 1, 4080));
end
end

function noise = read_noise(C, energy, colour, selection, window, members)
pooled = zeros(256, 1);
for s = 1:2
    chosen = key_of(energy(:, s)) <= selection(s);
    read = members{3 - s};
    counts = zeros(256, numel(read), 2);
    for slot = 1:numel(read)
        bins = window_bin(key_of(abs(C(read(slot) + 1, chosen))), window);
        for chooser = 0:1
            mine = colour(chosen) == chooser;
            counts(:, slot, chooser + 1) = accumarray(bins(mine) + 1, 1, [256, 1]);
        end
    end
    for chooser = 0:1
        medians = arrayfun(@(slot) median_of(counts(:, slot, chooser + 1), @(b) window_bounds(b, window)), ...
                           1:numel(read));
        ranked = sort(medians(~isnan(medians)));
        if isempty(ranked)
            continue;
        end
        empty = max(ranked(1) * 1.05, ranked(min(3, numel(ranked))));
        pooled = pooled + sum(counts(:, medians <= empty, 2 - chooser), 2);
    end
end
noise = median_of(pooled, @(b) window_bounds(b, window));
if isnan(noise)
    noise = 0;
else
    noise = noise / 0.6744897501960817;
end
end

% The range of intensities the widths are measured against: the class's
% for integers, 1 for logical, and for floating point the range of the
% finite means of the image's whole 4-by-4 blocks, which noise hardly
% widens (blocks as large as the image allows when it is smaller); and the
% image's lowest and highest finite values.
function [scale, lowest, highest] = intensity_scale(I)
finite = double(I(isfinite(I)));
lowest = min([finite; Inf]);
highest = max([finite; -Inf]);
if islogical(I)
    scale = 1;
elseif isinteger(I)
    scale = double(intmax(class(I))) - double(intmin(class(I)));
else
    [rows, cols, channels] = size(I);
    side = min([4, rows, cols]);
    means = [];
    if side > 0
        % Each block's sum runs down its columns, one column after another.
        down = floor(rows / side) * side;
        across = floor(cols / side) * side;
        for c = 1:channels
            X = double(I(1:down, 1:across, c));
            total = zeros(down / side, across / side);
            for q = 1:side
                for p = 1:side
                    total = total + X(p:side:end, q:side:end);
                end
            end
            means = [means; total(:) / (side * side)];
        end
    end
    means = means(isfinite(means));
    if isempty(means)
        scale = 0;
    else
        scale = max(means) - min(means);
    end
end
end
