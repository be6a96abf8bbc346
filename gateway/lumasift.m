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
%       beyond 32-bit integers are never edges.
%   X3  The width in front of edges, which also sets the window. Only its
%       first element is used.
%   X4  The width on and behind edges. Only its first element is used. A
%       small X4 keeps edges sharp.
%   Y   The smoothed image, a real double matrix the size of X1.
%
%   A width of 0 gives weight 0 to every sample but the centre, whose weight
%   becomes NaN, so the pixels that use it come out NaN. An X3 of -2/3 or
%   less, or NaN, leaves the window empty and every pixel NaN. NaN and
%   infinite values in X1 spread to the pixels whose windows hold them. The
%   results are the same to the last bit on every processor and thread
%   count.
%
%   Errors: 'Four input arguments.', 'One output argument.', 'Error in x1.'
%   to 'Error in x4.' (the first argument that is not a real, full double
%   array, or holds too few elements) and 'Mask size is too big' (more than
%   1000 rows or columns).
%
%   Example: smooth the noise of a disc but keep its rim.
%      [c, r] = meshgrid(1:200);
%      clean = double(hypot(r - 100, c - 100) < 60);
%      noisy = clean + 0.1 * randn(200);
%      [gx, gy] = gradient(conv2(noisy, ones(5) / 25, 'same'));
%      edges = 600 * hypot(gx, gy);      % the rim lies above 100
%      y = lumasift(noisy, edges, 2, 0.3);
%
%   See also LUMASIFT_DEMO, LUMASIFT_COMPILE.

% This file only documents the function: the compiled module lumasift.mex
% (lumasift.mexa64 and so on in MATLAB) beside it does the work.
