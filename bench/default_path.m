## imlumasift with nothing but the image, on a 24-megapixel colour
## photograph (Debian's retina photograph tiled to 4000x6000x3, with noise),
## against the same call handed its edges and widths, and lumasift_edges
## alone; the Octave process's peak memory during the default call. Needs
## the modules on the path and the photographs' folder:
##   octave-cli --eval "addpath('build', 'bench'); default_path('photos')"
function default_path (photo_dir, calls = 3)
  retina = imread (fullfile (photo_dir, "retina.jpg"));
  randn ("seed", 3);
  I = repmat (retina, 3, 5, 1)(1:4000, 1:6000, :);
  I = uint8 (double (I) + 15 * randn (size (I)));
  printf ("%dx%dx%d uint8, %d cores, fastest of %d calls\n", size (I), nproc (), calls);
  ## The module's working planes are touched once before measuring.
  imlumasift (I(1:1000, 1:1000, :));
  [~, info] = imlumasift (I);
  printf ("noise %.2f, threshold %.2f, x3 %.3f, x4 %.3f\n", info.noise, info.threshold, info.x3, info.x4);
  E = lumasift_edges (I);
  given = fastest (@() imlumasift (I, E, info.x3, info.x4), calls);
  default = fastest (@() imlumasift (I), calls);
  edges = fastest (@() lumasift_edges (I), calls);
  clear E;
  printf ("imlumasift(I, E, x3, x4)  %7.3f s\n", given);
  printf ("imlumasift(I)             %7.3f s  %.2fx of the call given its edges\n", default, default / given);
  printf ("lumasift_edges(I)         %7.3f s  %.2fx of the call given its edges\n", edges, edges / given);

  ## Writing 5 to clear_refs resets the peak resident set to the current one.
  fid = fopen ("/proc/self/clear_refs", "w");
  fprintf (fid, "5");
  fclose (fid);
  before = status_kb ("VmRSS");
  J = imlumasift (I);
  growth = (status_kb ("VmHWM") - before) / 1024;
  result = numel (J) / 2^20;
  printf ("peak memory growth during imlumasift(I): %.0f MB for a %.0f MB result (%.0f MB beyond it)\n", ...
          growth, result, growth - result);
endfunction

function t = fastest (call, calls)
  t = Inf;
  for k = 1:calls
    tic ();
    call ();
    t = min (t, toc ());
  endfor
endfunction

function kb = status_kb (field)
  text = fileread ("/proc/self/status");
  kb = str2double (regexp (text, [field ":\\s*(\\d+)"], "tokens", "once"){1});
endfunction
