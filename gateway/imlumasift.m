function J = imlumasift(I, E, x3, x4)
%IMLUMASIFT Edge-aware smoothing of images of any size, class and colour.
%   J = IMLUMASIFT(I, E, X3, X4) smooths each channel of the image I as
%   LUMASIFT(X1, X2, X3, X4) would with X1 = DOUBLE(I(:,:,c)) and the edge
%   map X2 = E (or E(:,:,c)), for images of any size, and returns J in I's
%   class: a normalised Gaussian-weighted average over a square window of
%   half-width FIX(3*X3 + 1), in which samples on an edge and behind one, as
%   seen from the centre, have the width X4 instead of X3.
%
%   J = IMLUMASIFT(I) finds the edges with LUMASIFT_EDGES(I) and uses
%   X3 = 1.5 and X4 = 0.3. J = IMLUMASIFT(I, E) and IMLUMASIFT(I, E, X3)
%   use the same defaults for what they leave out; an empty E stands for
%   LUMASIFT_EDGES(I) too.
%
%   I   An M-by-N or M-by-N-by-C image (gray, RGB or any number of
%       channels), of any size, of any real numeric class or logical. Each
%       channel is filtered on its own.
%   E   The edge map: M-by-N, shared by every channel, or M-by-N-by-C, one
%       per channel. Numbers of any real class mark an edge where they
%       exceed 100 after truncation to an integer, as in LUMASIFT (NaN and
%       values beyond 32-bit integers never do); a logical E marks edges
%       where it is true, so the result of EDGE or any mask works as it is.
%   X3  The width in front of edges, which also sets the window: a real
%       numeric scalar, used as a double. Default 1.5 (an 11-by-11 window).
%   X4  The width on and behind edges, likewise. Default 0.3. A small X4
%       keeps edges sharp.
%   J   The smoothed image, of I's size and class: integers are rounded
%       and saturated as UINT8(Y) and its kin convert, single as SINGLE(Y),
%       double stays double, and logical I gives a double J.
%
%   Exactness: before the conversion to I's class, each channel of J is
%   bit for bit what LUMASIFT's rule gives on the whole channel, as if its
%   working planes were as large as the image, on every path, thread count
%   and processor (for a given C math library, since the weights come from
%   its EXP and POW). Up to 1000 by 1000 that is LUMASIFT's own result.
%   Larger images are cut into tiles of at most 1000 by 1000 that overlap
%   by the window's half-width and one pixel more, which gives exactly those
%   bits; it needs a half-width FIX(3*X3 + 1) of at most 498.
%
%   Errors have identifiers: lumasift:badImage, lumasift:badEdges,
%   lumasift:badWidth, lumasift:windowTooWide, and lumasift:interrupted
%   when Ctrl-C ends a long call (nothing is assigned then).
%
%   Example: smooth a colour photograph, keeping its edges.
%      I = uint8(255 * rand(1200, 1600, 3));          % or imread('photo.jpg')
%      J = imlumasift(I);
%      class(J), size(J)                              % uint8, 1200 1600 3
%
%   Example: your own edges, as a mask.
%      I = rand(300);
%      mask = false(300);  mask(:, 150) = true;       % one vertical edge
%      J = imlumasift(I, mask, 3, 0.5);
%
%   See also LUMASIFT, LUMASIFT_EDGES, LUMASIFT_DEMO.

if nargin < 1 || nargin > 4
    error('lumasift:arguments', 'imlumasift: call as J = imlumasift(I, E, X3, X4); E, X3 and X4 may be left out');
end
if ~is_image_array(I)
    error('lumasift:badImage', ...
          'imlumasift: I must be a real, full numeric or logical M-by-N or M-by-N-by-C array');
end
[rows, cols, channels] = size(I);
default_edges = nargin < 2 || (isnumeric(E) && isequal(size(E), [0 0]));
if ~default_edges && ~(is_image_array(E) && size(E, 1) == rows && size(E, 2) == cols && ...
                       (size(E, 3) == 1 || size(E, 3) == channels))
    error('lumasift:badEdges', ...
          'imlumasift: E must be a real, full numeric or logical %d-by-%d or %d-by-%d-by-%d array, the size of I or of one channel of it', ...
          rows, cols, rows, cols, channels);
end
if nargin < 3
    x3 = 1.5;
end
if nargin < 4
    x4 = 0.3;
end
x3 = width(x3, 'X3');
x4 = width(x4, 'X4');
% Over 1000 a side, a tile must hold a kept pixel and its margins of the
% half-width and one more on both sides.
reach = fix(3 * x3 + 1);
if (rows > 1000 || cols > 1000) && reach > 498
    error('lumasift:windowTooWide', ...
          'imlumasift: X3 = %g gives a window of half-width %g, too wide to tile a %d-by-%d image: over 1000 pixels a side, the half-width FIX(3*X3 + 1) may be at most 498', ...
          x3, reach, rows, cols);
end
if default_edges
    E = lumasift_edges(I);
end
try
    J = imlumasift_mex(I, E, x3, x4);
catch err
    % The module's messages, under this function's name.
    error(err.identifier, 'imlumasift: %s', regexprep(err.message, '^imlumasift_mex: ', ''));
end
end

function ok = is_image_array(A)
ok = (isnumeric(A) || islogical(A)) && isreal(A) && ~issparse(A) && ndims(A) <= 3;
end

function w = width(w, name)
if ~(isnumeric(w) && isreal(w) && isscalar(w))
    error('lumasift:badWidth', 'imlumasift: %s must be a real numeric scalar', name);
end
w = full(double(w));
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
%!error id=lumasift:badImage imlumasift ({1})
%!error id=lumasift:badEdges imlumasift (rand (3), zeros (2))
%!error id=lumasift:badWidth imlumasift (rand (3), [], [1 2])
%!error id=lumasift:windowTooWide imlumasift (zeros (1001, 3), [], 200)
