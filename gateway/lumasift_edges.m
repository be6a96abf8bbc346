function E = lumasift_edges(I, threshold)
%LUMASIFT_EDGES Edge map for LUMASIFT and IMLUMASIFT, made from the image itself.
%   E = LUMASIFT_EDGES(I) returns, for the M-by-N or M-by-N-by-C image I of
%   any numeric or logical class, an M-by-N double edge map: the gradient
%   magnitude of I after a light smoothing, scaled so that a magnitude equal
%   to the threshold becomes 100. LUMASIFT and IMLUMASIFT take a pixel whose
%   edge value exceeds 100, after truncation to an integer, as an edge; so a
%   pixel is an edge where its magnitude is at least 1.01 times the
%   threshold.
%
%   E = LUMASIFT_EDGES(I, THRESHOLD) uses the magnitude THRESHOLD, in the
%   units of I (grey levels for uint8, for instance), a positive real scalar.
%
%   How E is made:
%   - Each channel, as double, is smoothed with the binomial kernel
%     [1 4 6 4 1]/16 along both dimensions (close to a Gaussian of width 1),
%     repeating the border pixels outward.
%   - Its gradient is the central difference along each dimension (one-sided
%     halves at the border), its magnitude HYPOT(GX, GY). The strongest
%     channel counts: the magnitude is the largest over the channels.
%   - The default threshold follows the image's noise. The median magnitude
%     is taken as that of noise, from which the magnitude of noise alone
%     would exceed 6 times its Rayleigh scale with a probability of about
%     1e-8:
%        THRESHOLD = 6 * MEDIAN(MAGNITUDE) / SQRT(2 * LOG(2))
%     over the pixels where the magnitude is finite, but at least 1% of the
%     range of I's finite values, so that clean, flat images still get their
%     edges. A constant image has no edges: E is all zeros.
%
%   NaN and infinite values of I spread into the magnitudes of their
%   channel near them; the other channels' magnitudes count there, and E is
%   NaN, which marks no edge, where no channel has one.
%
%   Example: filter a photograph with edges found in it.
%      I = imread('photo.png');
%      E = lumasift_edges(I);
%      J = imlumasift(I, E);
%      imshow([I, J])                    % or imwrite([I, J], 'both.png')
%
%   See also IMLUMASIFT, LUMASIFT.

if nargin < 1 || nargin > 2
    error('lumasift:arguments', 'lumasift_edges: call as E = lumasift_edges(I) or lumasift_edges(I, THRESHOLD)');
end
if ~((isnumeric(I) || islogical(I)) && isreal(I) && ~issparse(I) && ndims(I) <= 3)
    error('lumasift:badImage', ...
          'lumasift_edges: I must be a real, full numeric or logical M-by-N or M-by-N-by-C array');
end
if nargin == 2 && ~(isnumeric(threshold) && isreal(threshold) && isscalar(threshold) && threshold > 0)
    error('lumasift:badThreshold', 'lumasift_edges: THRESHOLD must be a positive real scalar');
end

[rows, cols, channels] = size(I);
E = zeros(rows, cols);
if isempty(I)
    return;
end
magnitudes = zeros(rows, cols, channels);
for c = 1:channels
    magnitudes(:, :, c) = gradient_magnitude(double(I(:, :, c)));
end
magnitude = max(magnitudes, [], 3);
if nargin == 2
    threshold = full(double(threshold));
else
    threshold = noise_threshold(magnitude, double(I(:)));
end
if threshold > 0
    E = 100 * magnitude / threshold;
end
end

function magnitude = gradient_magnitude(X)
% The gradient's magnitude after binomial smoothing, borders repeated.
[rows, cols] = size(X);
kernel = [1 4 6 4 1] / 16;
padded = X([1 1 1:rows rows rows], [1 1 1:cols cols cols]);
smooth = conv2(kernel, kernel, padded, 'valid');
around = smooth([1 1:rows rows], [1 1:cols cols]);
gx = (around(2:end-1, 3:end) - around(2:end-1, 1:end-2)) / 2;
gy = (around(3:end, 2:end-1) - around(1:end-2, 2:end-1)) / 2;
magnitude = hypot(gx, gy);
end

function threshold = noise_threshold(magnitude, values)
finite = magnitude(isfinite(magnitude));
finite_values = values(isfinite(values));
if isempty(finite) || isempty(finite_values)
    threshold = 0;
    return;
end
scale = median(finite) / sqrt(2 * log(2));
threshold = max(6 * scale, 0.01 * (max(finite_values) - min(finite_values)));
end

%!test
%! ## A step is marked along its length, the flat ground beside it not.
%! I = [zeros(20, 10), ones(20, 10)] + 0.01 * sin ((1:20)' * (1:20));
%! E = lumasift_edges (I);
%! assert (all (E(:, 10) > 100 & E(:, 11) > 100));
%! assert (! any (any (E(:, [1:6, 15:20]) > 100)));
%!test
%! ## The threshold maps to 100; the strongest channel counts.
%! I = rand (15, 16, 3);
%! assert (lumasift_edges (I, 0.5), 2 * lumasift_edges (I, 1), 1e-12);
%! assert (lumasift_edges (I, 1), max (cat (3, lumasift_edges (I(:, :, 1), 1), ...
%!   lumasift_edges (I(:, :, 2), 1), lumasift_edges (I(:, :, 3), 1)), [], 3), 1e-12);
%!assert (lumasift_edges (ones (4)), zeros (4))
%!assert (lumasift_edges (uint8 (magic (4)), 2), lumasift_edges (magic (4), 2))
%!error id=lumasift:badThreshold lumasift_edges (rand (3), -1)
%!error id=lumasift:badImage lumasift_edges ({1})
