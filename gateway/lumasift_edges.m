function [E, info] = lumasift_edges(varargin)
%LUMASIFT_EDGES Edge map for LUMASIFT and IMLUMASIFT, made from the image itself.
%   E = LUMASIFT_EDGES(I) returns, for the M-by-N or M-by-N-by-C image I of
%   any numeric or logical class, an M-by-N double edge map: the gradient
%   magnitude of I after a light smoothing, scaled so that a magnitude equal
%   to the threshold becomes 100. LUMASIFT and IMLUMASIFT take a pixel whose
%   edge value exceeds 100, after truncation to an integer, as an edge; so a
%   pixel is an edge where its magnitude is at least 1.01 times the
%   threshold. The default threshold follows the noise of I.
%
%   E = LUMASIFT_EDGES(I, THRESHOLD) uses the magnitude THRESHOLD, in the
%   units of I (grey levels for uint8, for instance), a positive real
%   scalar (for colour, also 1-by-3); [] stands for the default.
%
%   A colour image, M-by-N-by-3 or M-by-N-by-4 with alpha, gives an
%   M-by-N-by-3 E: E(:,:,c) is the map of opponent channel c (see
%   IMLUMASIFT), made from that channel alone with its own threshold, the
%   edges IMLUMASIFT(I) smooths along. E = LUMASIFT_EDGES(..., 'Colour',
%   false) gives one map for all the channels, as for any other number.
%   LUMASIFT_EDGES(..., 'Threads', N) runs on N threads; 0, the default,
%   on as many as the cores and the work justify.
%
%   [E, INFO] = LUMASIFT_EDGES(...) also returns a struct with the fields
%   basis (as IMLUMASIFT's), noise (the noise estimate below), scale (the
%   intensity scale that IMLUMASIFT measures its widths against) and
%   threshold (the one used, for colour one for each opponent channel).
%
%   How E is made:
%   - Each channel, as double, is smoothed with the binomial kernel
%     [1 4 6 4 1]/16 down the columns, then along the rows (close to a
%     Gaussian of width 1), repeating the border pixels outward.
%   - Its gradient is the central difference along each dimension (one-sided
%     halves at the border), its magnitude SQRT(GX.^2 + GY.^2). The
%     strongest channel counts: the magnitude is the largest over the
%     channels.
%   - E = (100 * MAGNITUDE) / THRESHOLD.
%
%   The noise estimate SIGMA is read where texture cannot pass for it. I is
%   cut into 8-by-8 blocks, each through the orthonormal DCT, under which
%   white noise gives every coefficient the same deviation. The blocks
%   quietest in the frequencies u + v >= 3 of one parity are chosen, and
%   the noise read in the other parity's, on the frequencies that texture
%   leaves emptiest: the median of their |c| / 0.6745. Blocks holding NaN,
%   Inf, or a value at the class's extremes (or a floating-point image's
%   own), where noise may be clipped, are left out; beyond 131072 blocks,
%   a regular subset of them is read. Everything is counted, so SIGMA is
%   exact whatever the tiling, the threads or the chunks. A clean image
%   reads little noise; a constant one none.

%   The default threshold is the magnitude that noise of deviation SIGMA
%   alone exceeds at a pixel with the probability 0.004, in at least one of
%   the C channels: each gradient component then carries noise of deviation
%   0.1498 * SIGMA, its magnitude is Rayleigh distributed, so
%      THRESHOLD = 0.1498 * SIGMA * SQRT(-2 * LOG(1 - (1 - 0.004)^(1/C)))
%   about 0.5 * SIGMA for a gray image or an opponent channel and 0.55 *
%   SIGMA for three channels kept apart; and at least a hundredth of the
%   intensity scale S (2.55 grey levels for uint8). Without that floor, a
%   clean photograph, whose noise reads near 0, would have nearly every
%   pixel marked, or none where the noise reads 0; with it, its marked
%   edges are those that stand out from it. A constant image gives zeros.
%
%   NaN and infinite values of I spread into the magnitudes of their
%   channel near them; the other channels' magnitudes count there, and E is
%   NaN, which marks no edge, where no channel has one.
%
%   Errors have identifiers: lumasift:arguments, lumasift:image,
%   lumasift:threshold, lumasift:choice, lumasift:outOfMemory,
%   lumasift:interrupted (Ctrl-C), as IMLUMASIFT's.
%
%   Example: filter a photograph with edges found in it.
%      I = imread('photo.png');
%      [E, info] = lumasift_edges(I);
%      J = imlumasift(I, E);
%      imshow([I, J])                    % or imwrite([I, J], 'both.png')
%
%   The method in full, with the defaults and why the results are exact:
%   docs/method.md in the source tree.
%
%   See also IMLUMASIFT, LUMASIFT.

% The module checks every argument, with the messages and identifiers every
% host shares.
try
    % Without INFO asked for, a given threshold spares measuring the noise.
    if nargout > 1
        [E, info] = lumasift_edges_mex(varargin{:});
    else
        E = lumasift_edges_mex(varargin{:});
    end
catch err
    % The module's and the host's messages, under this function's name.
    % Rethrown whole: error() would take an empty identifier, as the host's
    % allocation failures have, for an empty message, and raise nothing.
    rethrow(struct('message', ['lumasift_edges: ' regexprep(err.message, '^lumasift_edges_mex: ', '')], ...
                   'identifier', err.identifier));
end
end

%!test
%! ## A step in noise is marked along its length, the flat ground beside it
%! ## hardly.
%! randn ("state", 1);
%! I = [zeros(40, 10), ones(40, 10)] + 0.05 * randn (40, 20);
%! E = lumasift_edges (I);
%! assert (all (E(:, 10) > 100 & E(:, 11) > 100));
%! assert (mean (mean (E(:, [1:6, 15:20]) > 100)) < 0.02);
%!test
%! ## The threshold maps to 100; with the channels kept apart, the strongest
%! ## channel counts; as colour, each opponent channel has a map.
%! I = rand (15, 16, 3);
%! assert (lumasift_edges (I, 0.5), 2 * lumasift_edges (I, 1), 1e-12);
%! assert (lumasift_edges (I, 1, "Colour", false), max (cat (3, lumasift_edges (I(:, :, 1), 1), ...
%!   lumasift_edges (I(:, :, 2), 1), lumasift_edges (I(:, :, 3), 1)), [], 3), 1e-12);
%! luminance = sum (I, 3) / sqrt (3);
%! assert (lumasift_edges (I, 1)(:, :, 1), lumasift_edges (luminance, 1), 1e-12);
%!assert (lumasift_edges (ones (4)), zeros (4))
%!assert (lumasift_edges (uint8 (magic (4)), 2), lumasift_edges (magic (4), 2))
%!test
%! ## The default threshold follows the noise.
%! N = 10 * randn (200, 210);
%! [E, info] = lumasift_edges (N);
%! assert (info.noise, 10, 0.5);
%! assert (info.threshold, 0.1498 * info.noise * sqrt (-2 * log (0.004)), 1e-3 * info.threshold);
%! assert (E, lumasift_edges (N, info.threshold));
%!error id=lumasift:threshold lumasift_edges (rand (3), -1)
%!error id=lumasift:image lumasift_edges ({1})
