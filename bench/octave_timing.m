## Times lumasift as users call it, host copies included, against the literal
## evaluation (lumasift_reference, built with the tests) in the same run, on a
## 1000x1000 image with a few per cent of edge pixels in lines.  Needs both
## modules on the path:
##   octave-cli --eval "addpath('build', 'build/tests', 'bench'); octave_timing"
function octave_timing (calls = 40)
  n = 1000;
  rand ("seed", 1);
  x1 = rand (n);
  x2 = lined_edges (n);
  printf ("1000x1000, %.1f%% edge pixels, %d cores\n", 100 * mean (x2(:) > 100), nproc ());
  for x3 = [1 3.3]
    tic ();
    reference = lumasift_reference (x1, x2, x3, 4);
    literal = toc ();
    times = zeros (calls, 1);
    for k = 1:calls
      tic ();
      y = lumasift (x1, x2, x3, 4);
      times(k) = toc ();
    endfor
    if (! isequaln (y, reference))
      error ("octave_timing: lumasift differs from the literal evaluation");
    endif
    printf ("reach %2d: literal %7.1f ms, lumasift fastest %6.2f ms, median %6.2f ms: %4.0f times faster\n",
            fix (3 * x3 + 1), 1e3 * literal, 1e3 * min (times), 1e3 * median (times),
            literal / median (times));
  endfor
endfunction

function x2 = lined_edges (n)
  ## Straight and slanted lines, one pixel wide, about a hundred pixels apart.
  x2 = zeros (n);
  rand ("seed", 2);
  for line = 1:round (n / 50)
    t = 1:n;
    offset = floor (n * rand ());
    shift = mod (offset + floor (t * (floor (5 * rand ()) - 2) / 4), n) + 1;
    if (rand () < 0.5)
      x2(sub2ind ([n n], shift, t)) = 200;
    else
      x2(sub2ind ([n n], t, shift)) = 200;
    endif
  endfor
endfunction
