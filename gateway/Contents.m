% lumasift
% Version 0.4.0 09-Dec-2026
%
% Edge-aware smoothing: a Gaussian mean that does not cross edges.
%
% Filtering
%   lumasift       - Edge-aware smoothing of a double image of at most 1000 by 1000.
%   imlumasift     - Edge-aware smoothing of images of any size, class and colour.
%   lumasift_edges - Edge map for LUMASIFT and IMLUMASIFT, made from the image itself.
