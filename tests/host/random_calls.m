## Calls lumasift many times with random argument counts, classes, shapes,
## values and widths.  Every call must either return a result of the right
## size or raise the message that the first bad argument calls for; the
## caller's arguments must come back byte for byte; results must not change
## from call to call, nor after a failed call; small results must equal the
## literal evaluation (lumasift_reference) bit for bit.
##
## Environment: LUMASIFT_RANDOM_CALLS (default 3000), LUMASIFT_RANDOM_SEED
## (default 1).  Needs lumasift and lumasift_reference on the path.
function random_calls ()
  calls = str2double (getenv ("LUMASIFT_RANDOM_CALLS"));
  if (isnan (calls))
    calls = 3000;
  endif
  seed = str2double (getenv ("LUMASIFT_RANDOM_SEED"));
  if (isnan (seed))
    seed = 1;
  endif
  rand ("state", seed);
  randn ("state", seed);

  probe = {reshape(sin (1:600), 20, 30), 150 * (mod (reshape (1:600, 20, 30), 7) == 0), 1.3, 0.4};
  probe_result = lumasift (probe{:});
  assert_same_bits (probe_result, lumasift_reference (probe{:}), {0, probe, 1},
                    "the literal evaluation");

  counts = struct ("results", 0, "errors", 0, "compared", 0);
  messages = {};
  for call = 1:calls
    args = random_arguments ();
    nout = [1 1 1 1 1 1 0 0 2](pick (9));
    snapshots = cellfun (@snapshot, args, "uniformoutput", false);
    expected = expected_message (args, nout);
    [y, message] = call_lumasift (args, nout);
    where = {call, args, nout};

    for k = 1:numel (args)
      if (! isequal (snapshot (args{k}), snapshots{k}))
        fail (where, "argument %d changed", k);
      endif
    endfor

    if (! isempty (expected))
      if (isempty (message) || ! ends_with (message, expected))
        fail (where, "expected '%s', got '%s'", expected, message);
      endif
      counts.errors += 1;
      messages{end+1} = expected;
      if (mod (counts.errors, 25) == 0)
        assert_same_bits (lumasift (probe{:}), probe_result, where, "the probe after an error");
      endif
      continue;
    endif
    if (! isempty (message))
      fail (where, "unexpected error '%s'", message);
    endif
    counts.results += 1;
    if (nout == 0)
      continue;
    endif
    [rows, cols] = mex_size (args{1});
    if (! isequal (size (y), [rows cols]) || ! isa (y, "double") || ! isreal (y))
      fail (where, "result of size %s", mat2str (size (y)));
    endif
    if (rows * cols <= 2000)
      assert_same_bits (lumasift (args{:}), y, where, "a second call");
      x1 = reshape (args{1}, rows, cols);
      x2 = reshape (args{2}(1:rows * cols), rows, cols);
      assert_same_bits (y, lumasift_reference (x1, x2, args{3}(1), args{4}(1)), where,
                        "the literal evaluation");
      counts.compared += 1;
    endif
  endfor

  [names, ~, index] = unique (messages);
  printf ("%d calls: %d results (%d compared with the literal evaluation), %d errors\n",
          calls, counts.results, counts.compared, counts.errors);
  for k = 1:numel (names)
    printf ("  %5d x %s\n", sum (index == k), names{k});
  endfor
endfunction

function [y, message] = call_lumasift (args, nout)
  y = [];
  message = "";
  try
    switch (nout)
      case 0
        lumasift (args{:});
      case 1
        y = lumasift (args{:});
      otherwise
        [y, z] = lumasift (args{:});
    endswitch
  catch err
    message = err.message;
  end_try_catch
endfunction

## What the module must say, or "" for a result.
function message = expected_message (args, nout)
  message = "";
  if (numel (args) != 4)
    message = "Four input arguments.";
    return;
  endif
  if (nout > 1)
    message = "One output argument.";
    return;
  endif
  [rows, cols] = mex_size (args{1});
  needed = [rows * cols, rows * cols, 1, 1];
  for k = 1:4
    a = args{k};
    if (! (isnumeric (a) && ! iscomplex (a) && ! issparse (a) && isa (a, "double"))
        || numel (a) < needed(k))
      message = sprintf ("Error in x%d.", k);
      return;
    endif
  endfor
  if (rows > 1000 || cols > 1000)
    message = "Mask size is too big";
  endif
endfunction

## Rows, and columns as the product of the other dimensions.
function [rows, cols] = mex_size (a)
  dims = size (a);
  rows = dims(1);
  cols = prod (dims(2:end));
endfunction

function args = random_arguments ()
  if (rand () < 0.85)
    count = 4;
  else
    count = [0 1 2 3 5 6](pick (6));
  endif
  x1 = random_array (true);
  args = {x1, random_edges(x1), random_width(numel (x1)), random_width(numel (x1)), ...
          random_array(false), random_array(false)};
  for k = 1:4
    if (rand () < 0.04)
      args{k} = random_other ();
    endif
  endfor
  args = args(1:count);
endfunction

function x2 = random_edges (x1)
  if (rand () < 0.85 && isnumeric (x1))
    x2 = 200 * (rand (size (x1)) < 0.1) + special_values (size (x1), 0.05);
    if (rand () < 0.1)
      x2 = [x2(:); zeros(pick (5), 1)];           # longer
    elseif (rand () < 0.1 && numel (x2) > 0)
      x2 = x2(1:end - pick (numel (x2)));        # shorter
    endif
  else
    x2 = random_array (false);
  endif
endfunction

function a = random_array (may_be_large)
  shapes = {[1 1], [0 0], [0 pick(5)], [pick(5) 0], [1 pick(40)], [pick(40) 1], ...
            [pick(30) pick(30)], [pick(6) pick(6) pick(3)], [pick(4) 0 pick(3)]};
  if (may_be_large && rand () < 0.08)
    large = {[1000 pick(3)], [pick(3) 1000], [1001 pick(3)], [pick(3) 1001], ...
             [1000 1000], [2 501 2], [1000 2 2]};
    shape = large{pick (numel (large))};
  else
    shape = shapes{pick (numel (shapes))};
  endif
  a = (rand (shape) - 0.3) * 10 ^ (pick (7) - 4) + special_values (shape, 0.05);
  a = convert (a, rand () < 0.85);
endfunction

function width = random_width (image_elements)
  widths = [NaN Inf -Inf 0 -0 -0.5 -2/3 -1 1e-300 0.3 0.5 1 1.37 2.5 1e9 realmin/4];
  if (image_elements > 20000)
    widths = [NaN -Inf -1 0 0.3 1];      # keeps the largest calls quick
  endif
  width = widths(pick (numel (widths)));
  if (rand () < 0.1)
    width = [width, reshape(widths(pick (numel (widths), pick (3))), 1, [])];
  elseif (rand () < 0.03)
    width = [];
  endif
  width = convert (width, rand () < 0.95);
endfunction

function values = special_values (shape, share)
  specials = [NaN Inf -Inf realmax -realmax 1e300 -1e300 realmin/4 -realmin/4 101 100.9 -500];
  values = zeros (shape);
  hit = rand (shape) < share;
  values(hit) = specials(pick (numel (specials), nnz (hit)));
endfunction

## A double as it is, or the same values in another class.
function a = convert (a, keep_double)
  if (keep_double)
    return;
  endif
  classes = {"single", "logical", "char", "int8", "uint8", "int16", "uint16", "int32", ...
             "uint32", "int64", "uint64", "sparse", "complex"};
  finite = a;
  finite(! isfinite (finite)) = 0;
  switch (classes{pick (numel (classes))})
    case "logical"
      a = finite != 0;
    case "char"
      a = char (mod (abs (round (finite)), 128));
    case "sparse"
      a = sparse (finite(:, :));
    case "complex"
      a = complex (a, 1);
    case "single"
      a = single (a);
    otherwise
      a = cast (finite, classes{3 + pick(8)});
  endswitch
endfunction

function a = random_other ()
  others = {{1, 2}, struct("a", 1), @sin, "text", true, int8(3), [], single(2)};
  a = others{pick (numel (others))};
endfunction

## The argument's bytes, for numeric, logical and char data; the argument
## itself otherwise.
function s = snapshot (a)
  if (issparse (a))
    [i, j, v] = find (a);
    s = {size(a), i, j, snapshot(full (v))};
  elseif (iscomplex (a))
    s = {snapshot(real (a)), snapshot(imag (a))};
  elseif (islogical (a) || ischar (a))
    s = uint8 (a(:));
  elseif (isnumeric (a))
    s = typecast (a(:), "uint8");
  else
    s = a;
  endif
endfunction

function assert_same_bits (actual, expected, where, what)
  same = isequal (size (actual), size (expected));
  if (same)
    both_nan = isnan (actual) & isnan (expected);
    same = isequal (typecast (actual(! both_nan), "uint64"), typecast (expected(! both_nan), "uint64"));
  endif
  if (! same)
    fail (where, "result differs in its bits from %s", what);
  endif
endfunction

## Reports a failed check of the call `where` = {number, arguments, results
## asked}, describing the arguments only then, since that is slow.
function fail (where, varargin)
  [call, args, nout] = where{:};
  parts = cellfun (@(a) sprintf ("%s %s", class (a), mat2str (size (a))), args,
                   "uniformoutput", false);
  error ("call %d (%d results asked; %s): %s", call, nout, strjoin (parts, ", "),
         sprintf (varargin{:}));
endfunction

## Random whole numbers from 1 to n: one, or a column of `count`. Octave's
## randi checks its arguments at some length, which the sanitizer's slow
## allocations make costly.
function k = pick (n, count = 1)
  k = 1 + floor (n * rand (count, 1));
endfunction

function yes = ends_with (text, tail)
  yes = numel (text) >= numel (tail) && strcmp (text(end - numel (tail) + 1:end), tail);
endfunction
