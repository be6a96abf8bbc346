% lumasift
% Version 0.4.0 09-Dec-2026
%
% Edge-aware smoothing: a Gaussian mean that does not cross edges.
%
% Filtering
%   lumasift       - Edge-aware smoothing of a double image of at most 1000 by 1000.
%   imlumasift     - Edge-aware smoothing of images of any size, class and colour.
%   lumasift_edges - Edge map for LUMASIFT and IMLUMASIFT, made from the image itself.
%
% Name-value pairs, after the positional arguments
%   'Threshold', T  - the threshold of the edges made where E is left out (imlumasift)
%   'Colour', TF    - smooth three or four channels as colour (true) or apart
%   'Threads', N    - the threads a call runs on; 0 for as many as the work justifies
