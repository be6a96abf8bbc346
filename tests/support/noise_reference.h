// The image statistics behind the defaults, stated plainly and slowly from
// their description, to compare the core's counted readings with: blocks
// gathered into lists, quantiles by sorting, the DCT as written.
#ifndef LUMASIFT_TESTS_NOISE_REFERENCE_H
#define LUMASIFT_TESTS_NOISE_REFERENCE_H

#include <vector>

struct ReferenceStatistics {
    double noise;
    double scale;
    double texture;
    double fine_texture;
    double structure;
};

// `values` holds rows x cols x channels values as doubles, column-major.
// Integer classes pass their extremes as the clipping levels and their
// range as the scale (`integer_scale`); floating-point images pass
// integer_scale < 0, and the levels and the scale come from the values.
ReferenceStatistics reference_statistics(const std::vector<double>& values, int rows, int cols, int channels,
                                         double clipped_below, double clipped_above, double integer_scale);

#endif
