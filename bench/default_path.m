## imlumasift with nothing but the image, on a 24-megapixel colour
## photograph (Debian's retina photograph tiled to 4000x6000x3, with noise),
## against the same call handed its edges and widths, and lumasift_edges
## alone; the Octave process's peak memory during both calls. Octave copies
## a module's result into an array of its own, so the peak grows by twice
## the result at least, and a new array's first touch counts in the times
## (zeros(size(E)) shows what it costs). Needs the modules on the path and
## the photographs' folder:
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
  printf ("noise %.2f, threshold %s, x3 %s, x4 %s\n", info.noise, mat2str (info.threshold, 4), ...
          mat2str (info.x3, 4), mat2str (info.x4, 4));
  E = lumasift_edges (I);
  given = fastest (@() imlumasift (I, E, info.x3, info.x4), calls);
  default = fastest (@() imlumasift (I), calls);
  edges = fastest (@() lumasift_edges (I), calls);
  host = fastest (@() zeros (size (E)), calls);
  printf ("imlumasift(I, E, x3, x4)  %7.3f s\n", given);
  printf ("imlumasift(I)             %7.3f s  %.2fx of the call given its edges\n", default, default / given);
  printf ("lumasift_edges(I)         %7.3f s  %.2fx of the call given its edges\n", edges, edges / given);
  printf ("zeros(size(E))            %7.3f s  %.2fx: the host's cost of a new array of E's size\n", host, host / given);

  printf ("peak memory growth for a %.0f MB result, during\n", numel (I) / 2^20);
  printf ("  imlumasift(I, E, x3, x4)  %4.0f MB\n", peak_growth (@() imlumasift (I, E, info.x3, info.x4)));
  clear E;
  printf ("  imlumasift(I)             %4.0f MB\n", peak_growth (@() imlumasift (I)));
endfunction

## The growth of the process's peak resident memory while J = call() runs,
## in MB. Writing 5 to clear_refs resets the peak to the current size.
function growth = peak_growth (call)
  fid = fopen ("/proc/self/clear_refs", "w");
  fprintf (fid, "5");
  fclose (fid);
  before = status_kb ("VmRSS");
  J = call ();
  growth = (status_kb ("VmHWM") - before) / 1024;
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
