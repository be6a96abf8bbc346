## assert_same_bits (actual, expected): the same size, class and bits, NaN
## equal to NaN whatever its payload.
function assert_same_bits (actual, expected)
  assert (size (actual), size (expected));
  assert (class (actual), class (expected));
  actual = actual(:);
  expected = expected(:);
  if (isfloat (actual))
    both_nan = isnan (actual) & isnan (expected);
    actual = actual(! both_nan);
    expected = expected(! both_nan);
    ## Equal values with the same sign have the same bits; -0 == 0 does not.
    differ = actual != expected | signbit (actual) != signbit (expected);
  else
    differ = actual != expected;
  endif
  assert (! any (differ), "%d of %d values differ", nnz (differ), numel (differ));
endfunction
