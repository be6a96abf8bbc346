## Tests of lumasift as the host calls it.  Needs lumasift.mex, the literal
## evaluation lumasift_reference.mex and assert_same_bits.m on the path.

%!function assert_message (msg, varargin)
%!  ## The host puts "lumasift: " in front; the module's text must end it.
%!  try
%!    lumasift (varargin{:});
%!  catch err
%!    ok = numel (err.message) >= numel (msg) ...
%!         && strcmp (err.message(end-numel (msg)+1:end), msg);
%!    assert (ok, "message '%s' instead of one ending in '%s'", err.message, msg);
%!    return;
%!  end_try_catch
%!  error ("no error raised, expected '%s'", msg);
%!endfunction


%!function [x1, x2] = scene (rows, cols, seed)
%!  rand ("seed", seed);
%!  x1 = rand (rows, cols) * 4 - 1;
%!  x2 = 90 * rand (rows, cols);
%!  x2(rand (rows, cols) < 0.1) = 180;
%!  x2(:, ceil (cols / 2)) = 101;
%!endfunction

## Argument counts
%!test
%! assert_message ("Four input arguments.");
%! assert_message ("Four input arguments.", 1, 0, 1);
%! assert_message ("Four input arguments.", 1, 0, 1, 4, 5);
%! assert_message ("Four input arguments.", single (1), 0, 1);
%!error <One output argument\.$> [a, b] = lumasift (1, 0, 1, 4)
%!error <Four input arguments\.$> [a, b] = lumasift (1, 0, 1)
%!test
%! lumasift (magic (3), zeros (3), 1, 4);
%! assert (ans, lumasift (magic (3), zeros (3), 1, 4));

## Argument types: each bad class in each place, and the first bad one decides
%!test
%! good = {ones(3, 2), zeros(3, 2), 1, 4};
%! bad = {single(1), true, "a", uint8(1), int32(1), sparse(1), complex(1, 0), {1}, struct("a", 1)};
%! for k = 1:4
%!   for b = 1:numel (bad)
%!     args = good;
%!     args{k} = bad{b};
%!     assert_message (sprintf ("Error in x%d.", k), args{:});
%!   endfor
%! endfor
%!test
%! assert_message ("Error in x1.", single (1), "a", {}, 1i);
%! assert_message ("Error in x2.", ones (2), single (1), "a", {});
%! assert_message ("Error in x3.", ones (2), zeros (2), "a", {});
%! assert_message ("Error in x4.", ones (2), zeros (2), 1, {});
%! assert_message ("Error in x1.", complex (zeros (1001, 5)), zeros (1001, 5), 1, 4);
%! assert_message ("Error in x4.", zeros (1001, 5), zeros (1001, 5), 1, single (4));

## Arguments holding fewer elements than the filter reads
%!test
%! assert_message ("Error in x2.", ones (3, 4), zeros (3, 3), 1, 4);
%! assert_message ("Error in x2.", ones (3, 4), [], 1, 4);
%! assert_message ("Error in x2.", ones (3, 4), zeros (3, 3), [], []);
%! assert_message ("Error in x3.", ones (3, 4), zeros (3, 4), [], 4);
%! assert_message ("Error in x4.", ones (3, 4), zeros (3, 4), 1, zeros (0, 3));
%! assert_message ("Error in x2.", zeros (1001, 5), zeros (1000, 5), 1, 4);

## Size limit
%!error <Mask size is too big$> lumasift (zeros (1001, 5), zeros (1001, 5), 1, 4)
%!error <Mask size is too big$> lumasift (zeros (5, 1001), zeros (5, 1001), 1, 4)
%!error <Mask size is too big$> lumasift (zeros (2, 501, 2), zeros (2, 501, 2), 1, 4)
%!test
%! [x1, x2] = scene (1000, 1000, 7);
%! y = lumasift (x1, x2, 1, 4);
%! assert (size (y), [1000 1000]);
%! assert (all (isfinite (y(:))));

## Shapes
%!assert (size (lumasift (zeros (0, 0), [], 1, 4)), [0 0])
%!assert (size (lumasift (zeros (0, 5), [], 1, 4)), [0 5])
%!assert (size (lumasift (zeros (3, 0), [], 1, 4)), [3 0])
%!assert (lumasift (2.5, 0, 1, 4), 2.5)
%!assert (lumasift (2.5, 250, 1, 4), 2.5)
%!test
%! ## An N-D x1 is taken as rows by the product of the other dimensions.
%! [x1, x2] = scene (4, 15, 3);
%! y = lumasift (reshape (x1, 4, 5, 3), reshape (x2, 4, 5, 3), 1, 4);
%! assert_same_bits (y, lumasift (x1, x2, 1, 4));

## Results equal the literal evaluation, bit for bit
%!test
%! sizes = [1 1; 1 9; 9 1; 5 7; 16 11; 40 3; 3 40; 23 29];
%! widths = [1 4; 0.3 2; 1.37 0.5; -0.5 4; 2.5 0; 0 3; NaN 1; 1e9 4; Inf 2];
%! for i = 1:rows (sizes)
%!   for j = 1:rows (widths)
%!     [x1, x2] = scene (sizes(i, 1), sizes(i, 2), 10 * i + j);
%!     x1(mod (1:numel (x1), 17) == 3) = NaN;
%!     x1(mod (1:numel (x1), 19) == 5) = Inf;
%!     x2(mod (1:numel (x2), 13) == 4) = NaN;
%!     w = num2cell (widths(j, :));
%!     assert_same_bits (lumasift (x1, x2, w{:}), lumasift_reference (x1, x2, w{:}));
%!   endfor
%! endfor

## Images large enough for the scheduled kernels, inside and at the border:
## in the plain one-line build their exactness rests on the sources' own
## contraction pragmas.
%!test
%! [x1, x2] = scene (200, 150, 9);
%! x2(:, [1 end]) = 200;
%! for x3 = [1 3.3]
%!   assert_same_bits (lumasift (x1, x2, x3, 0.4), lumasift_reference (x1, x2, x3, 0.4));
%! endfor

## Only what the filter reads is used
%!test
%! [x1, x2] = scene (6, 8, 4);
%! assert_same_bits (lumasift (x1, x2, [1 9; 9 9], [4 7 7]), lumasift (x1, x2, 1, 4));
%! longer = [x2(:); 500 * ones(10, 1)];
%! assert_same_bits (lumasift (x1, longer, 1, 4), lumasift (x1, x2, 1, 4));
%! assert_same_bits (lumasift (x1, reshape (x2, 4, 12), 1, 4), lumasift (x1, x2, 1, 4));

## The caller's arguments are left as they were
%!test
%! [x1, x2] = scene (12, 9, 5);
%! x3 = [1.5 2];
%! x4 = 3;
%! copies = {x1 + 0, x2 + 0, x3 + 0, x4 + 0};
%! y = lumasift (x1, x2, x3, x4);
%! assert_same_bits (x1, copies{1});
%! assert_same_bits (x2, copies{2});
%! assert_same_bits (x3, copies{3});
%! assert_same_bits (x4, copies{4});
