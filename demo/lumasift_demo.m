## -*- texinfo -*-
## @deftypefn  {} {} lumasift_demo ()
## @deftypefnx {} {} lumasift_demo (@var{image_file})
## @deftypefnx {} {} lumasift_demo (@var{image_file}, @var{out_dir})
## Filter a scene with lumasift and write the input, its edge map and the
## result as PNG files.
##
## With no @var{image_file} (or an empty one) a synthetic scene is made: flat
## shapes on a shaded background with fixed noise, so every run gives the same
## pictures.  A user's image is converted to gray values in [0, 1].  The edge
## map is the gradient magnitude, scaled so that the strongest edges reach 255
## and real edges lie above the filter's threshold of 100.  The files go to
## @var{out_dir} (default: the current folder).
## @seealso{lumasift}
## @end deftypefn

function lumasift_demo (image_file = "", out_dir = ".")
  if (isempty (image_file))
    scene = default_scene ();
  else
    scene = gray_image (image_file);
  endif
  edges = edge_map (scene);

  sigma_near = 2;     # width in flat regions: window half-width 7
  sigma_far = 0.25;   # width on and behind edges: keeps them sharp
  tic ();
  result = lumasift (scene, edges, sigma_near, sigma_far);
  seconds = toc ();

  if (! isfolder (out_dir))
    mkdir (out_dir);
  endif
  files = {"input.png", scene; "edges.png", edges / 255; "result.png", result};
  for k = 1:rows (files)
    path = fullfile (out_dir, files{k, 1});
    imwrite (uint8 (round (255 * min (max (files{k, 2}, 0), 1))), path);
    printf ("%-7s %s\n", [strtok(files{k, 1}, ".") ":"], make_absolute_filename (path));
  endfor
  printf ("lumasift (%dx%d, x3 = %g, x4 = %g) took %.3f s\n", rows (scene), columns (scene),
          sigma_near, sigma_far, seconds);
endfunction

function scene = default_scene ()
  n = 256;
  [c, r] = meshgrid (1:n, 1:n);
  scene = 0.25 + 0.2 * c / n;
  scene((r - 90) .^ 2 + (c - 85) .^ 2 < 55 ^ 2) = 0.8;
  scene(150:225, 40:120) = 0.1;
  scene(r > 120 & r < 230 & c > 150 & abs (c - 200) < (r - 120) / 2) = 0.65;
  scene(30:60, 160:235) = 0.5 + 0.15 * sin (c(30:60, 160:235) / 3);
  randn ("seed", 1);
  scene += 0.05 * randn (n, n);
endfunction

function scene = gray_image (image_file)
  [pixels, map] = imread (image_file);
  if (! isempty (map))
    pixels = ind2rgb (pixels, map);
  endif
  scene = im2double (pixels);
  if (size (scene, 3) == 3)
    scene = rgb2gray (scene);
  endif
  scene = scene(:, :, 1);
endfunction

function edges = edge_map (scene)
  ## Smooth a little first so that the noise stays below the threshold.
  g = exp (-(-2:2) .^ 2 / 2);
  g /= sum (g);
  smooth = conv2 (g, g, scene, "same");
  sobel = [1 0 -1; 2 0 -2; 1 0 -1];
  gx = conv2 (smooth, sobel, "same");
  gy = conv2 (smooth, sobel', "same");
  magnitude = hypot (gx, gy);
  magnitude([1 end], :) = 0;
  magnitude(:, [1 end]) = 0;
  edges = 255 * magnitude / max (magnitude(:) + eps);
endfunction
