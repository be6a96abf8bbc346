// A literal evaluation of lumasift, written step by step from the filter's
// definition, slow on purpose and sharing no code with the product. Tests
// compare the product with it bit for bit.
#ifndef LUMASIFT_TESTS_REFERENCE_H
#define LUMASIFT_TESTS_REFERENCE_H

#include <utility>
#include <vector>

// x1 and x2 hold rows * cols doubles, column-major; x3 and x4 are the widths.
// Returns the filtered image, column-major. The planes are plane_side by
// plane_side, which rows and cols must not exceed: 1000 as the module has
// them, or more for the rule on larger images.
std::vector<double> reference_lumasift(const double* x1, const double* x2, int rows, int cols,
                                       double x3, double x4, int plane_side = 1000);

// The same rule at the listed (row, column) pixels only, in their order, on
// planes of 1000: for windows too wide to evaluate every pixel of.
std::vector<double> reference_lumasift_at(const double* x1, const double* x2, int rows, int cols, double x3,
                                          double x4, const std::vector<std::pair<int, int>>& pixels);

#endif
