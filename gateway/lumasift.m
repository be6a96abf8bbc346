function varargout = lumasift(varargin)
%LUMASIFT Edge-aware smoothing: a Gaussian mean that does not cross edges.
%   Y = LUMASIFT(X1, X2, X3, X4) returns, for every pixel of the image X1, a
%   normalised Gaussian-weighted average of X1 over a square window centred
%   on the pixel, of half-width FIX(3*X3 + 1). The window is walked outward
%   from the centre in four triangular wedges (right, left, up, down).
%   Samples in front of an edge, as seen from the centre, have the width X3;
%   a sample on an edge pixel, and every sample behind one along the wedge's
%   axis, has the width X4. A sample at distance D weighs
%   EXP(-D^2 / (2*SIGMA)^2), and the centre counts twice.
%
%   X1  The image: a real double matrix of at most 1000 rows and 1000
%       columns.
%   X2  The edge map: a real double array with at least NUMEL(X1) elements,
%       read column by column as an array the size of X1. A value above 100,
%       after truncation to an integer, marks an edge pixel. NaN and values
%       beyond 32-bit integers are never edges. LUMASIFT_EDGES makes one
%       from the image itself.
%   X3  The width in front of edges, which also sets the window. Only its
%       first element is used.
%   X4  The width on and behind edges. Only its first element is used. A
%       small X4 keeps edges sharp.
%   Y   The smoothed image, a real double matrix the size of X1.
%
%   For images of other classes (uint8, single, logical...), in colour, or
%   larger than 1000 by 1000, use IMLUMASIFT: it gives each channel exactly
%   the result of this rule, in the image's own class.
%
%   A width of 0 gives weight 0 to every sample but the centre, whose weight
%   becomes NaN, so the pixels that use it come out NaN. An X3 of -2/3 or
%   less, or NaN, leaves the window empty and every pixel NaN. NaN and
%   infinite values in X1 spread to the pixels whose windows hold them. The
%   results are the same to the last bit on every path, processor and
%   thread count, for a given C math library (the weights come from its EXP
%   and POW).
%
%   Errors: 'Four input arguments.', 'One output argument.', 'Error in x1.'
%   to 'Error in x4.' (the first argument that is not a real, full double
%   array, or holds too few elements) and 'Mask size is too big' (more than
%   1000 rows or columns). Ctrl-C ends a long call with 'Interrupted.', and
%   nothing is assigned.
%
%   Example: smooth the noise of a disc but keep its rim.
%      [c, r] = meshgrid(1:200);
%      clean = double(hypot(r - 100, c - 100) < 60);
%      noisy = clean + 0.1 * randn(200);
%      y = lumasift(noisy, lumasift_edges(noisy), 2, 0.3);
%
%   The method in full, with the defaults and why the results are exact:
%   docs/method.md in the source tree.
%
%   See also IMLUMASIFT, LUMASIFT_EDGES, LUMASIFT_DEMO, LUMASIFT_COMPILE.

% The compiled module beside this file (lumasift.mex in Octave,
% lumasift.mexa64 and its kin in MATLAB) takes precedence over it; this
% code runs only where the module is missing.
error('lumasift:notBuilt', ...
      ['lumasift: the compiled module is missing from %s. Build it with ' ...
       'lumasift_compile, run from the folder of the lumasift sources ' ...
       '(docs/octave.md, "Building and installing", has the other ways).'], ...
      fileparts(mfilename('fullpath')));
end

%!assert (lumasift (2.5, 0, 1, 4), 2.5)
%!assert (lumasift (ones (6, 9), 200 * eye (6, 9), 1.3, 0.2), ones (6, 9), 1e-15)
%!test
%! ## The right wedge visits the centre and then its right neighbour, the
%! ## left wedge the centre again and then its left neighbour.
%! w = exp (-1 / 4);
%! assert (lumasift ([1 0], [0 0], 1, 4), [(1 + 0 * w + 1) / (1 + w + 1), (0 + 0 + 1 * w) / (1 + 1 + w)]);
%!error <Four input arguments\.> lumasift (1, 0, 1)
%!error <One output argument\.> [a, b] = lumasift (1, 0, 1, 4)
%!error <Error in x1\.> lumasift (single (1), 0, 1, 4)
%!error <Error in x2\.> lumasift (ones (3), zeros (2), 1, 4)
%!error <Mask size is too big> lumasift (zeros (1001, 2), zeros (1001, 2), 1, 4)
