## Times lumasift as users call it, host copies included, on the C++
## benchmark's 1000x1000 scene with lines of edges (every 50th row and 70th
## column), so that its floor there compares: against the literal
## evaluation (lumasift_reference, built with the tests) and against the
## host's round trip (round_trip, built with the benchmarks: a module that
## creates such a result and returns it). Then imlumasift on 3000x4000
## doubles and 3000x4000x3 uint8, per pixel and channel against the
## 1000x1000 call at reach 4, beside Octave's own zeros of that size, the
## first touch of a new array that the host's copy of every result pays.
## Needs the modules on the path:
##   octave-cli --eval "addpath('build', 'build/tests', 'build/bench', 'bench'); octave_timing"
function octave_timing (calls = 40)
  n = 1000;
  [x1, x2] = lined_scene (n);
  printf ("1000x1000, %.1f%% edge pixels, %d cores, medians of %d calls\n",
          100 * mean (x2(:) > 100), nproc (), calls);
  printf ("host's round trip: %.2f ms\n", 1e3 * median_time (@() round_trip (x1), calls));
  for reach = [1 4 10]
    x3 = (reach - 0.5) / 3;  # the C++ benchmark's width for this reach
    tic ();
    reference = lumasift_reference (x1, x2, x3, 4);
    literal = toc ();
    y = lumasift (x1, x2, x3, 4);
    if (! isequaln (y, reference))
      error ("octave_timing: lumasift differs from the literal evaluation");
    endif
    call = median_time (@() lumasift (x1, x2, x3, 4), calls);
    printf ("reach %2d: literal %7.1f ms, lumasift %6.2f ms: %4.0f times faster\n",
            reach, 1e3 * literal, 1e3 * call, literal / call);
    if (reach == 4)
      reach_4 = call;
    endif
  endfor

  E = repmat (x2, 3, 4);
  photos = {rand(3000, 4000), uint8(255 * rand (3000, 4000, 3))};
  for k = 1:numel (photos)
    I = photos{k};
    big = median_time (@() imlumasift (I, E, (4 - 0.5) / 3, 4), 5);
    printf ("imlumasift %s %s: %6.1f ms, %.2fx per pixel and channel of lumasift at reach 4\n",
            class (I), strjoin (arrayfun (@num2str, size (I), "UniformOutput", false), "x"),
            1e3 * big, big / (numel (I) / n^2) / reach_4);
  endfor
  printf ("Octave's zeros (3000, 4000): %.1f ms\n", 1e3 * median_time (@() zeros (3000, 4000), 5));
endfunction

function t = median_time (f, calls)
  ## The first call warms up; its result is dropped before each next call,
  ## as an assignment in a loop drops it.
  y = f ();
  times = zeros (calls, 1);
  for k = 1:calls
    clear y;
    tic ();
    y = f ();
    times(k) = toc ();
  endfor
  t = median (times);
endfunction

function [x1, x2] = lined_scene (n)
  ## Blocks of three levels with a little noise; edges on every 50th row and
  ## 70th column, counted from the first.
  [r, c] = ndgrid (0:n-1);
  rand ("seed", 1);
  x1 = mod (floor (r / 50) + floor (c / 70), 3) * 0.3 + 0.2 * (rand (n) - 0.5);
  x2 = 255 * (mod (r, 50) == 0 | mod (c, 70) == 0);
endfunction
