## Tests of imlumasift and lumasift_edges as the host calls them.  Needs the
## modules, the literal evaluation lumasift_reference.mex and
## assert_same_bits.m on the path, and the photographs that
## scripts/photos.sh fetches in the folder that LUMASIFT_PHOTOS names.

%!function I = photo (name)
%!  I = imread (fullfile (getenv ("LUMASIFT_PHOTOS"), name));
%!endfunction

## lumasift's rule on each channel of the whole image, with planes as large
## as the image, before any conversion to I's class. A colour image (three
## channels, or four with alpha), unless COLOUR is false: the rule on each
## opponent channel, (b1 x1 + b2 x2) + b3 x3 with rows b of the basis, with
## its own widths and its channel of E, then the transpose's sums of those,
## alpha as it was.
%!function y = rule (I, E, x3, x4, colour)
%!  [rows, cols, channels] = size (I);
%!  side = max ([rows, cols, 1000]);
%!  x = double (I);
%!  y = x;
%!  as_colour = (nargin < 5 || colour) && any (channels == [3 4]);
%!  if (as_colour)
%!    third = 0.57735026918962576451;
%!    half = 0.70710678118654752440;
%!    sixth = 0.40824829046386301637;
%!    B = [third, third, third; half, 0, -half; sixth, -2 * sixth, sixth];
%!    for c = 1:3
%!      x(:, :, c) = (B(c, 1) * y(:, :, 1) + B(c, 2) * y(:, :, 2)) + B(c, 3) * y(:, :, 3);
%!    endfor
%!    channels = 3;
%!  endif
%!  for c = 1:channels
%!    e = E(:, :, min (c, size (E, 3)));
%!    if (islogical (e))
%!      e = 101 * e;
%!    endif
%!    y(:, :, c) = lumasift_reference (x(:, :, c), double (e), x3(min (c, end)), x4(min (c, end)), side);
%!  endfor
%!  if (as_colour)
%!    smoothed = y;
%!    for k = 1:3
%!      y(:, :, k) = (B(1, k) * smoothed(:, :, 1) + B(2, k) * smoothed(:, :, 2)) + B(3, k) * smoothed(:, :, 3);
%!    endfor
%!  endif
%!endfunction

%!function assert_error (id, varargin)
%!  try
%!    imlumasift (varargin{:});
%!  catch err
%!    assert (err.identifier, id);
%!    assert (strncmp (err.message, "imlumasift: ", 12), "message '%s'", err.message);
%!    return;
%!  end_try_catch
%!  error ("no error raised, expected %s", id);
%!endfunction

## A real colour photograph over 1000 a side, in uint8, with its own edges:
## tiles in both dimensions.
%!test
%! I = photo ("retina.jpg");
%! E = lumasift_edges (I);
%! J = imlumasift (I, E, 0.3, 0.5);
%! assert_same_bits (J, uint8 (rule (I, E, 0.3, 0.5)));

## Tall crops of it at reach 4, 10 and 19, with edges on the image's border,
## lone edges scattered over it, and NaN values.
%!test
%! I = photo ("retina.jpg");
%! for x3 = [1 3 6]
%!   cols = round (600 / (3 * x3 + 1));
%!   crop = double (I(:, 400 + (1:cols), 2));
%!   crop(mod (1:numel (crop), 997) == 5) = NaN;
%!   E = lumasift_edges (crop);
%!   E([1 end], :) = 200;
%!   E(:, end) = 200;
%!   E(mod (1:numel (E), 409) == 7) = 150;
%!   assert_same_bits (imlumasift (crop, E, x3, 0.5), rule (crop, E, x3, 0.5));
%! endfor

## A mosaic of photographs, 1200 by 1112, in double, shared and per-channel
## edge maps; the channels kept apart.
%!test
%! a = im2double (photo ("astronaut.png"));
%! b = im2double (photo ("coffee.png"));
%! a = a(1:400, :, :);
%! I = [a, b; b, a; a, b];
%! shared = lumasift_edges (I, [], "Colour", false);
%! assert_same_bits (imlumasift (I, shared, 0.2, 0.3, "colour", false), rule (I, shared, 0.2, 0.3, false));
%! assert_same_bits (imlumasift (I, shared, [0.2 0.6 0.35], [0.3 0.5 1]), rule (I, shared, [0.2 0.6 0.35], [0.3 0.5 1]));
%! assert_same_bits (imlumasift (I, shared, 0.2, 0.3), rule (I, shared, 0.2, 0.3));
%! each = cat (3, shared, lumasift_edges (I(:, :, 2)), 200 * (rand (size (shared)) < 0.05));
%! assert_same_bits (imlumasift (I(:, 1:1001, :), each(:, 1:1001, :), 0, 2), ...
%!                   rule (I(:, 1:1001, :), each(:, 1:1001, :), 0, 2));

## Up to 1000 by 1000, each channel is lumasift's result; as colour, each
## opponent channel is, with its own width.
%!test
%! I = im2double (photo ("hubble_deep_field.jpg"));
%! E = lumasift_edges (I, [], "Color", false);
%! J = imlumasift (I, E, 1, 0.3, "Colour", false);
%! for c = 1:3
%!   assert_same_bits (J(:, :, c), lumasift (I(:, :, c), E, 1, 0.3));
%! endfor
%! B = [1 1 1; 1 0 -1; 1 -2 1] ./ sqrt ([3; 2; 6]);
%! opponent = reshape (reshape (I, [], 3) * B', size (I));
%! J = imlumasift (I, E, [1 2 0.5], 0.3);
%! smoothed = reshape (reshape (J, [], 3) * B', size (I));
%! for c = 1:3
%!   assert (smoothed(:, :, c), lumasift (opponent(:, :, c), E, [1 2 0.5](c), 0.3), 1e-12);
%! endfor
%! gray = photo ("camera.png");
%! assert_same_bits (imlumasift (gray, lumasift_edges (gray), 2, 0.3), ...
%!                   uint8 (lumasift (double (gray), lumasift_edges (gray), 2, 0.3)));

## Every class of I and of E; the result in I's class, converted as the host
## converts.
%!test
%! rand ("seed", 4);
%! values = 300 * (rand (1050, 30, 2) - 0.3);
%! values(1:50:end) = 1e12;
%! E = 90 * rand (1050, 30);
%! E(rand (1050, 30) < 0.05) = 120;
%! classes = {"double", "single", "int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64"};
%! for k = 1:numel (classes)
%!   I = cast (values, classes{k});
%!   J = imlumasift (I, cast (E, classes{k}), 1.2, 0.4);
%!   assert_same_bits (J, cast (rule (I, cast (E, classes{k}), 1.2, 0.4), classes{k}));
%! endfor
%! L = values > 100;
%! assert_same_bits (imlumasift (L, E > 100, 1.2, 0.4), rule (L, E > 100, 1.2, 0.4));

## A logical E marks edges where it is true, like numbers above 100.
%!test
%! I = rand (40, 1300);
%! mask = rand (40, 1300) < 0.02;
%! assert_same_bits (imlumasift (I, mask, 1, 0.2), imlumasift (I, 101 * mask, 1, 0.2));
%! assert_same_bits (imlumasift (I, mask, 1, 0.2), imlumasift (I, single (150 * mask), 1, 0.2));

## Defaults, widths of any numeric class, empty images.
%!test
%! I = uint8 (255 * rand (50, 60, 3));
%! [J, info] = imlumasift (I);
%! assert_same_bits (J, imlumasift (I, lumasift_edges (I), info.x3, info.x4));
%! assert_same_bits (imlumasift (I, []), J);
%! assert_same_bits (imlumasift (I, [], [], []), J);
%! assert_same_bits (imlumasift (I, [], int8 (2)), imlumasift (I, [], 2, info.x4));
%! assert_same_bits (imlumasift (I, [], single (0.5), uint8 (1)), imlumasift (I, [], 0.5, 1));
%! assert_same_bits (imlumasift (zeros (0, 5, "uint8")), zeros (0, 5, "uint8"));
%! assert_same_bits (imlumasift (zeros (0, 0)), zeros (0, 0));
%! assert_same_bits (imlumasift (true (3, 0, 2)), zeros (3, 0, 2));

## With nothing but the image, as the literal statements give it: the noise,
## the scale, the threshold and the widths of edges_reference, and the rule
## on its edge map, for a noisy colour photograph over 1000 a side (tiles
## that make their own edges) and a gray one with NaN.
%!test
%! randn ("seed", 7);
%! retina = photo ("retina.jpg");
%! I = uint8 (double (retina(:, 500:759, :)) + 12 * randn (1411, 260, 3));
%! [E, expected] = edges_reference (I);
%! [J, info] = imlumasift (I);
%! assert ([info.noise, info.scale, info.texture, info.fine_texture, info.threshold, info.x3, info.x4], ...
%!         [expected.noise, expected.scale, expected.texture, expected.fine_texture, expected.threshold, ...
%!          expected.x3, expected.x4]);
%! assert_same_bits (J, uint8 (rule (I, E, info.x3, info.x4)));
%! gray = double (photo ("camera.png")) + 25 * randn (512);
%! gray(mod (1:numel (gray), 991) == 3) = NaN;
%! [E, expected] = edges_reference (gray);
%! [J, info] = imlumasift (gray);
%! assert ([info.x3, info.x4], [expected.x3, expected.x4]);
%! assert_same_bits (J, rule (gray, E, info.x3, info.x4));

## lumasift_edges is its literal statement, bit for bit, for every class.
%!test
%! randn ("seed", 8);
%! I = double (photo ("astronaut.png")) + 15 * randn (512, 512, 3);
%! I(1:401:end) = NaN;
%! I(2:997:end) = Inf;
%! images = {photo("retina.jpg"), I, single(I), int16(I), uint16(257 * photo("camera.png")), ...
%!           photo("camera.png") > 128, I(1:2, 1:7, :), I(:, 1, :)};
%! for k = 1:numel (images)
%!   [E, info] = lumasift_edges (images{k});
%!   [expected_E, expected] = edges_reference (images{k});
%!   assert_same_bits (E, expected_E);
%!   assert ([info.noise, info.scale, info.threshold], [expected.noise, expected.scale, expected.threshold]);
%! endfor
%! assert_same_bits (lumasift_edges (I, 7), edges_reference (I, 7));

## Bad arguments get clear messages with identifiers.
%!test
%! I = rand (20, 30, 3);
%! assert_error ("lumasift:arguments");
%! assert_error ("lumasift:image", {I});
%! assert_error ("lumasift:image", struct ("a", 1));
%! assert_error ("lumasift:image", complex (I, 1));
%! assert_error ("lumasift:image", sparse (I(:, :, 1)));
%! assert_error ("lumasift:image", "text");
%! assert_error ("lumasift:image", rand (2, 2, 2, 2));
%! assert_error ("lumasift:edges", I, zeros (20, 31));
%! assert_error ("lumasift:edges", I, zeros (20, 30, 2));
%! assert_error ("lumasift:edges", I, complex (zeros (20, 30), 1));
%! assert_error ("lumasift:edges", I, sparse (zeros (20, 30)));
%! assert_error ("lumasift:edges", I, {zeros(20, 30)});
%! assert_error ("lumasift:choice", I, "e");
%! assert_error ("lumasift:width", I, [], [1 2]);
%! assert_error ("lumasift:choice", I, [], "1");
%! assert_error ("lumasift:width", I, [], true);
%! assert_error ("lumasift:width", I, [], 1, 1i);
%! assert_error ("lumasift:width", I, [], 1, {1});
%! assert_error ("lumasift:width", I, [], [1 2 3], 1, "Colour", false);
%! assert_error ("lumasift:choice", I, [], 1, 1, "Colour");
%! assert_error ("lumasift:choice", I, "Colur", true);
%! assert_error ("lumasift:choice", I, "Colour", "yes");
%! assert_error ("lumasift:arguments", I, [], 1, 1, 2);
%! assert_error ("lumasift:choice", I, "Threads", -1);
%! assert_error ("lumasift:choice", I, "Threads", 1.5);
%! assert_error ("lumasift:threshold", I, [], 1, 1, "Threshold", -1);
%! assert_error ("lumasift:threshold", I, zeros (20, 30), 1, 1, "Threshold", 2);

## The name-value pairs: a threshold makes the edges lumasift_edges makes
## with it; the threads and the class of given values change no bit.
%!test
%! I = uint8 (255 * rand (60, 50, 3));
%! J = imlumasift (I, [], [1 1.5 2], 0.4, "Threshold", [9 4 4]);
%! assert_same_bits (J, imlumasift (I, lumasift_edges (I, [9 4 4]), [1 1.5 2], 0.4));
%! assert_same_bits (imlumasift (I, "Threads", 1, "threshold", 7), imlumasift (I, "Threads", 2, "Threshold", 7));
%! assert_same_bits (imlumasift (I, [], single (1.5), int8 (1)), imlumasift (I, [], 1.5, 1));
%! assert_same_bits (lumasift_edges (I, 5, "Threads", 1), lumasift_edges (I, 5));

## A window too wide to tile is refused at once; the widest that tiles is
## taken.
%!test
%! tic ();
%! assert_error ("lumasift:windowTooWide", zeros (2049, 5), [], 340.9);
%! assert_error ("lumasift:windowTooWide", zeros (5, 3000), [], Inf);
%! assert_error ("lumasift:windowTooWide", zeros (4000, 3000, "uint8"), [], 1e9);
%! assert (toc () < 1);
%! x = rand (2049, 5);
%! assert (size (imlumasift (x, zeros (2049, 5), 340.5, 1)), [2049 5]);
%! assert (all (isnan (imlumasift (rand (1200, 3), [], NaN, 1)(:))));

## The caller's arrays are left as they were.
%!test
%! I = uint8 (255 * rand (1100, 20, 3));
%! E = 200 * (rand (1100, 20) < 0.1);
%! x3 = single (1.5);
%! copies = {I + 0, E + 0, x3 + 0};
%! J = imlumasift (I, E, x3, 0.5);
%! assert_same_bits (I, copies{1});
%! assert_same_bits (E, copies{2});
%! assert_same_bits (x3, copies{3});

## lumasift_edges: the documented scaling, classes, the strongest channel
## with the channels kept apart, and a map of each opponent channel as
## colour, with its own threshold.
%!test
%! I = photo ("astronaut.png");
%! E = lumasift_edges (I);
%! assert (class (E), "double");
%! assert (size (E), [512 512 3]);
%! assert (lumasift_edges (I, 10) * 10, lumasift_edges (I, 40) * 40, 1e-9);
%! assert (lumasift_edges (double (I), 10), lumasift_edges (I, 10));
%! apart = lumasift_edges (I, 10, "Colour", false);
%! assert (size (apart), [512 512]);
%! channels = max (cat (3, lumasift_edges (I(:, :, 1), 10), lumasift_edges (I(:, :, 2), 10), ...
%!                     lumasift_edges (I(:, :, 3), 10)), [], 3);
%! assert (apart, channels, 1e-12);
%! by_channel = lumasift_edges (I, [10 20 40]);
%! assert (by_channel(:, :, 3) * 4, lumasift_edges (I, 10)(:, :, 3), 1e-9);
%! [~, info] = lumasift_edges (cat (3, I, I(:, :, 1)));
%! assert (size (info.basis), [3 3]);
%! assert (size (info.threshold), [1 3]);
%! assert (lumasift_edges (zeros (5, 7)), zeros (5, 7));
%! assert (size (lumasift_edges (zeros (0, 3))), [0 3]);

## lumasift_edges marks the visible edges and hardly any noise: the rim of
## a noisy disc, and few pixels of pure noise; a clean image has no noise to
## smooth away, and comes back as it was.
%!test
%! randn ("seed", 1);
%! [c, r] = meshgrid (1:200);
%! disc = 0.5 * (hypot (r - 100, c - 100) < 60) + 0.05 * randn (200);
%! E = lumasift_edges (disc);
%! from_rim = abs (hypot (r - 100, c - 100) - 60);
%! assert (all (E(from_rim < 1.5) > 100));
%! assert (mean (E(from_rim > 5) > 100) < 0.01);
%! assert (mean (lumasift_edges (randn (300))(:) > 100) < 0.01);
%! ramp = uint8 (repmat (linspace (0, 255, 300), 200, 1));
%! [J, info] = imlumasift (ramp);
%! assert (info.noise, 0);
%! assert_same_bits (J, ramp);

## A clean picture's edges are those that stand out from it, a hundredth of
## its range or more: steps over fine texture keep their steps and lose the
## texture, as asked, and a clean photograph marks some of its pixels, not
## none nor nearly all.
%!test
%! rand ("seed", 3);
%! [c, r] = meshgrid (1:240, 1:200);
%! steps = 60 * floor (c / 60) + 40 * (r > 100);
%! texture = 1.5 * sin (c * 2.1) .* cos (r * 1.7);
%! I = uint8 (steps + texture + 20);
%! J = double (imlumasift (I, [], 2, 0.3));
%! inside = mod (c, 60) > 6 & mod (c, 60) < 54 & abs (r - 100.5) > 6;
%! assert (std (J(inside) - steps(inside)) < 0.5 * std (texture(inside)));
%! assert (all (abs (J(10:190, 59) - J(10:190, 61)) > 50));
%! camera = double (photo ("camera.png"));
%! edges = lumasift_edges (camera) > 100;
%! J = imlumasift (camera, [], 2, 0.3);
%! blurred = imlumasift (camera, zeros (size (camera)), 2, 0.3);
%! assert (mean (abs (J(edges) - camera(edges))) < 0.5 * mean (abs (blurred(edges) - camera(edges))));
%! assert (mean (abs (J(~edges) - camera(~edges))) > 1);
%! for name = {"coffee.png", "camera.png", "retina.jpg"}
%!   marked = mean (reshape (lumasift_edges (photo (name{1})) > 100, [], size (photo (name{1}), 3)));
%!   assert (all (marked > 0.005 & marked < 0.5), "%s: %s", name{1}, mat2str (marked, 3));
%! endfor
