function [J, info] = imlumasift(varargin)
%IMLUMASIFT Edge-aware smoothing of images of any size, class and colour.
%   J = IMLUMASIFT(I) smooths the photograph I with no other input: it
%   estimates the noise of I, finds edges in I and chooses the widths from
%   that estimate, so that a noisy image is smoothed along its edges and a
%   clean one comes back as it is.
%
%   J = IMLUMASIFT(I, E, X3, X4) smooths each channel of I as
%   LUMASIFT(X1, X2, X3, X4) would with X1 = DOUBLE(I(:,:,c)) and the edge
%   map X2 = E (or E(:,:,c)), for images of any size, and returns J in I's
%   class: a normalised Gaussian-weighted average over a square window of
%   half-width FIX(3*X3 + 1), in which samples on an edge and behind one, as
%   seen from the centre, have the width X4 instead of X3. Any of E, X3 and
%   X4 may be left out or [] for its default.
%
%   Colour: an M-by-N-by-3 image, or M-by-N-by-4 with alpha, is smoothed as
%   colour. Its first three channels are seen in the orthonormal opponent
%   basis, rows (1,1,1)/SQRT(3), (1,0,-1)/SQRT(2) and (1,-2,1)/SQRT(6): the
%   noise stays as it was in each, while the detail gathers in the first
%   and the other two are smooth, so each gets the widths and the edges its
%   own texture asks for. The smoothed channels go back through the
%   transpose, and alpha is copied as it is. X3 and X4 may then be one
%   number for all three channels or one for each.
%   J = IMLUMASIFT(..., 'Colour', false) keeps the channels apart, for
%   three channels that are not colour (three bands, three slices).
%
%   Name-value pairs, after the positional arguments:
%     'Threshold', T  the threshold of the edges made where E is left out,
%                     as LUMASIFT_EDGES(I, T) makes them (one, or one for
%                     each opponent channel); the default follows the noise.
%     'Colour', TF    as above ('Color' too); true by default.
%     'Threads', N    how many threads the call runs on; 0, the default,
%                     for as many as the cores and the work justify.
%
%   [J, INFO] = IMLUMASIFT(...) also returns what was used, a struct with
%   the fields basis (the opponent basis's rows, or [] with the channels
%   kept apart), noise (the noise estimate, in I's units), scale (the range
%   the widths are measured against), texture and fine_texture (how much
%   texture I holds next to its noise, below), threshold (the edge
%   threshold of the edges made from I, or [] when E was given), x3 and x4;
%   for colour, 1-by-3 rows of a value for each opponent channel.
%
%   I   An M-by-N or M-by-N-by-C image (gray, RGB or any number of
%       channels), of any size, of any real numeric class or logical. Each
%       channel is filtered on its own, or each opponent channel of a
%       colour image.
%   E   The edge map: M-by-N, shared by every channel, or M-by-N-by-C, one
%       per channel (for colour, E(:,:,c) serves opponent channel c, as
%       LUMASIFT_EDGES(I) makes them). Numbers of any real class mark an edge where they
%       exceed 100 after truncation to an integer, as in LUMASIFT (NaN and
%       values beyond 32-bit integers never do); a logical E marks edges
%       where it is true, so the result of EDGE or any mask works as it is.
%       Default: the edges of LUMASIFT_EDGES(I), made tile by tile, so that
%       no map as large as the image is made; J is bit for bit
%       IMLUMASIFT(I, LUMASIFT_EDGES(I), INFO.X3, INFO.X4).
%   X3  The width in front of edges, which also sets the window: a real
%       numeric scalar, used as a double; for colour, also 1-by-3.
%   X4  The width on and behind edges, likewise. A small X4 keeps edges
%       sharp.
%   J   The smoothed image, of I's size and class: integers are rounded
%       and saturated as UINT8(Y) and its kin convert, single as SINGLE(Y),
%       double stays double, and logical I gives a double J.
%
%   The defaults follow the noise and the texture of I, and for colour of
%   each opponent channel:
%   - SIGMA, the noise's deviation, read where texture cannot pass for it
%     (see LUMASIFT_EDGES), in the stored channels of a colour image, where
%     clipping shows as the class's extremes;
%   - S, the intensity scale: the class's range for integers, 255 for
%     UINT8; 1 for logical; for floating point the range of the means of
%     the image's 4-by-4 blocks, which noise hardly widens;
%   - TEXTURE, the median over I's 8-by-8 blocks of their mean power at
%     middle frequencies, in units of SIGMA^2: 1 for noise alone, more with
%     texture; and FINE, the share of blocks whose power at high
%     frequencies exceeds twice SIGMA^2.
%      X3 = exp(0.111 - 0.705 log(max(TEXTURE, 1)) - 0.156 log(FINE + 0.01)),
%           within [0.4, 2.4]
%      X4 = exp(-1.461 + 0.143 log(max(TEXTURE, 1)) - 0.240 log(FINE + 0.01)),
%           within [0.15, 1.25]
%      and never above 60 SIGMA/S and 20 SIGMA/S, nor below 0.01;
%      E  = LUMASIFT_EDGES(I), whose threshold follows SIGMA and is at
%           least S/100, so that a clean picture keeps the edges that stand
%           out from it.
%   Smooth pictures get wide windows, fine texture narrow ones: on a
%   photograph in [0, 255] with noise of deviation 10, X3 runs from about
%   0.5 (grass, printed text) to 2 (a retina, the moon). With little noise
%   the widths shrink with it, and without noise they are 0.01, which gives
%   every sample but the centre a weight of 0: J is I.

%   Exactness: before the conversion to I's class, each channel of J is
%   bit for bit what LUMASIFT's rule gives on the whole channel, as if its
%   working planes were as large as the image, on every path, thread count
%   and processor (for a given C math library, since the weights come from
%   its EXP and POW). For colour, each opponent channel, (B(c,1)*X1 +
%   B(c,2)*X2) + B(c,3)*X3 of the values as doubles with B the nearest
%   doubles to the basis, is the rule's result, and channel k of J the sums
%   (B(1,k)*Y1 + B(2,k)*Y2) + B(3,k)*Y3 of those, in that order. Up to 1000 by 1000 that is LUMASIFT's own result.
%   Larger images are cut into tiles that overlap by the window's
%   half-width and one pixel more, which gives exactly those bits; it needs
%   a half-width FIX(3*X3 + 1) of at most 1022.
%
%   Errors have identifiers: lumasift:arguments, lumasift:image,
%   lumasift:edges, lumasift:width, lumasift:threshold (also for E and a
%   threshold both given), lumasift:windowTooWide, lumasift:choice (a
%   name-value pair of no such name, or a bad value), lumasift:outOfMemory,
%   and lumasift:interrupted when Ctrl-C ends a long call (nothing is
%   assigned then). LUMASIFT_EDGES and the Python package share them.
%
%   Example: smooth a noisy colour photograph, keeping its edges.
%      I = imread('photo.jpg');                       % uint8, any size
%      [J, info] = imlumasift(I);
%      info.noise                                     % in grey levels
%
%   Example: your own edges, as a mask, and your own widths.
%      I = rand(300);
%      mask = false(300);  mask(:, 150) = true;       % one vertical edge
%      J = imlumasift(I, mask, 3, 0.5);
%
%   The method in full, with the defaults and why the results are exact:
%   docs/method.md in the source tree.
%
%   See also LUMASIFT, LUMASIFT_EDGES, LUMASIFT_DEMO.

% The module checks every argument, with the messages and identifiers every
% host shares.
try
    % Without INFO asked for, an image given all its parameters is not measured.
    if nargout > 1
        [J, info] = imlumasift_mex(varargin{:});
    else
        J = imlumasift_mex(varargin{:});
    end
catch err
    % The module's and the host's messages, under this function's name.
    % Rethrown whole: error() would take an empty identifier, as the host's
    % allocation failures have, for an empty message, and raise nothing.
    rethrow(struct('message', ['imlumasift: ' regexprep(err.message, '^imlumasift_mex: ', '')], ...
                   'identifier', err.identifier));
end
end

%!test
%! ## I's class and size come back; integers converted as the host does.
%! I = uint8 (255 * rand (40, 50, 3));
%! J = imlumasift (I, [], 1, 0.3);
%! assert (class (J), "uint8");
%! assert (size (J), [40 50 3]);
%! assert (J, uint8 (imlumasift (double (I), lumasift_edges (I), 1, 0.3)));
%!test
%! ## Up to 1000 by 1000, each channel is lumasift's result.
%! I = rand (30, 40, 2);
%! E = 200 * (rand (30, 40) < 0.1);
%! assert (imlumasift (I, E, 1.3, 0.4)(:, :, 2), lumasift (I(:, :, 2), E, 1.3, 0.4));
%!test
%! ## Tiles give the whole image's result: where the windows (half-width 4)
%! ## stay off the last row of the first 1000, lumasift on those rows agrees.
%! I = rand (1500, 40);
%! E = 200 * (rand (1500, 40) < 0.05);
%! top = lumasift (I(1:1000, :), E(1:1000, :), 1, 0.3);
%! J = imlumasift (I, E, 1, 0.3);
%! assert (J(1:995, :), top(1:995, :));
%! bottom = lumasift (I(501:1500, :), E(501:1500, :), 1, 0.3);
%! assert (J(506:1500, :), bottom(6:1000, :));
%!test
%! ## A logical E marks edges where it is true.
%! I = rand (20, 30);
%! mask = rand (20, 30) < 0.1;
%! assert (imlumasift (I, mask, 1, 0.3), lumasift (I, 101 * mask, 1, 0.3));
%!test
%! ## With nothing but the image: the parameters it reports give the same
%! ## bits, and a constant image comes back as it is.
%! N = 100 + 20 * randn (60, 50, 3);
%! [J, info] = imlumasift (N);
%! assert (J, imlumasift (N, lumasift_edges (N), info.x3, info.x4));
%! assert (fieldnames (info)', {"basis", "noise", "scale", "texture", "fine_texture", "structure", "threshold", "x3", "x4"});
%! assert (info.noise, 20, 4);
%! [~, given] = imlumasift (N, [], 1, 0.3);
%! assert ([given.x3, given.x4, given.noise], [1, 1, 1, 0.3, 0.3, 0.3, info.noise]);
%! [~, apart] = imlumasift (N, [], 1, 0.3, "Colour", false);
%! assert ([apart.x3, apart.x4, isempty(apart.basis)], [1, 0.3, true]);
%! assert (imlumasift (uint8 (7 * ones (9, 8, 3))), uint8 (7 * ones (9, 8, 3)));
%! assert (imlumasift (pi * ones (9, 8)), pi * ones (9, 8));
%!error id=lumasift:image imlumasift ({1})
%!error id=lumasift:edges imlumasift (rand (3), zeros (2))
%!error id=lumasift:width imlumasift (rand (3), [], [1 2])
%!error id=lumasift:windowTooWide imlumasift (zeros (2049, 3), [], 400)
