## Calls lumasift on 1000x1000 images many times in one session: the
## process's memory must stay flat and no thread may outlive a call.
## Environment: LUMASIFT_LOAD_CALLS (default 1000).
function load_test ()
  calls = str2double (getenv ("LUMASIFT_LOAD_CALLS"));
  if (isnan (calls))
    calls = 1000;
  endif
  rand ("state", 3);
  x1 = rand (1000);
  x2 = 200 * (rand (1000) < 0.03);
  expected = lumasift (x1, x2, 1, 4);
  threads = status_value ("Threads");
  warm = 50;
  for call = 1:calls
    y = lumasift (x1, x2, 1, 4);
    if (call == warm)
      rss_warm = status_value ("VmRSS");
    endif
    ## A joined thread is gone once its exit completes, which the kernel may
    ## finish a moment after the join returns: allow it 100 ms.
    for wait = 1:20
      if (status_value ("Threads") == threads)
        break;
      endif
      pause (0.005);
    endfor
    if (status_value ("Threads") != threads)
      error ("call %d left %d threads running", call, status_value ("Threads") - threads);
    endif
  endfor
  growth = status_value ("VmRSS") - rss_warm;
  printf ("%d calls on 1000x1000: resident memory grew by %d kB after call %d; %d threads throughout\n",
          calls, growth, warm, threads);
  if (! isequaln (y, expected))
    error ("the last result differs from the first");
  endif
  if (growth > 16 * 1024)
    error ("resident memory grew by %d kB", growth);
  endif
endfunction

## A field of /proc/self/status, as a number (kB for memory).
function value = status_value (name)
  text = fileread ("/proc/self/status");
  value = str2double (regexp (text, [name ":\\s*(\\d+)"], "tokens", "once"){1});
endfunction
