function [E, info] = edges_reference(I, threshold, rule)
% The edge map, the noise estimate and the default widths of imlumasift and
% lumasift_edges, stated plainly and slowly, to compare the modules with.
%   [E, INFO] = EDGES_REFERENCE(I) with the default threshold,
%   EDGES_REFERENCE(I, THRESHOLD) with a given one ([] for the default), and
%   EDGES_REFERENCE(I, [], RULE) with the rule's constants of the struct
%   RULE in place of the product's (for tuning them).
% INFO holds noise, scale, threshold, x3 and x4.
if nargin < 2
    threshold = [];
end
if nargin < 3
    rule = default_rule();
end
[rows, cols, channels] = size(I);
info.noise = noise_estimate(I);
info.scale = intensity_scale(I);
relative = 0;
if info.scale > 0
    relative = info.noise / info.scale;
end
info.x3 = clamp(rule.x3_per_noise * sqrt(relative), rule.x3_least, rule.x3_most);
info.x4 = clamp(rule.x4_per_noise * sqrt(relative), rule.x4_least, rule.x4_most);
if isempty(threshold)
    % Noise alone would mark a pixel with this probability.
    info.threshold = info.noise * GRADIENT_NOISE_GAIN() * ...
        sqrt(-2 * log(1 - (1 - rule.false_edges)^(1 / max(channels, 1))));
else
    info.threshold = double(threshold);
end
E = zeros(rows, cols);
if isempty(I)
    return;
end
magnitude = -Inf(rows, cols);
for c = 1:channels
    magnitude = max(magnitude, gradient_magnitude(double(I(:, :, c))));
end
magnitude(magnitude == -Inf) = NaN;
if info.threshold > 0
    E = (100 * magnitude) / info.threshold;
end
end

function rule = default_rule()
rule.false_edges = 0.004;
rule.x3_per_noise = 6;
rule.x3_least = 0.01;
rule.x3_most = 2.5;
rule.x4_per_noise = 1.9;
rule.x4_least = 0.01;
rule.x4_most = 1;
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

% The lower median of |h| over every channel's interior pixels where h is
% finite, h being the second difference down the columns followed by the
% second difference along the rows ([1 -2 1]' * [1 -2 1]), each |h| rounded
% to single precision, scaled to the
% standard deviation of Gaussian noise: h has 6 times its deviation, and
% the median of |h| is 0.6745 of that.
function noise = noise_estimate(I)
[rows, cols, channels] = size(I);
values = [];
for c = 1:channels
    X = double(I(:, :, c));
    if rows < 3 || cols < 3
        continue;
    end
    d = (X(1:end - 2, :) + X(3:end, :)) - 2 * X(2:end - 1, :);
    h = (d(:, 1:end - 2) + d(:, 3:end)) - 2 * d(:, 2:end - 1);
    values = [values; single(abs(h(isfinite(h))))];
end
if isempty(values)
    noise = 0;
    return;
end
values = sort(values);
noise = double(values(ceil(numel(values) / 2))) / (6 * 0.6744897501960817);
end

% The range of intensities the widths are measured against: the class's
% for integers, 1 for logical, and for floating point the range of the
% finite means of the image's whole 4-by-4 blocks, which noise hardly
% widens (blocks as large as the image allows when it is smaller).
function scale = intensity_scale(I)
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
