// The default rule: the threshold and the widths that imlumasift and
// lumasift_edges take where their caller leaves them out, from the image's
// statistics. bench/quality.py measures it and is where it is tuned.
#ifndef LUMASIFT_DEFAULTS_H
#define LUMASIFT_DEFAULTS_H

#include <cstddef>

#include "hidden.h"
#include "statistics.h"

namespace lumasift LUMASIFT_HIDDEN {

// The defaults, from the statistics.
struct DefaultParameters {
    // Magnitude that noise alone exceeds at a pixel with the probability
    // FALSE_EDGE_RATE, in at least one of the channels; at least a
    // hundredth of the intensity scale; and on a clean image, whose noise
    // reads below a hundredth of the scale, the image's structure, its
    // strongest quarter of gradients, giving way to the noise as it rises to
    // two hundredths.
    double threshold;
    double x3;
    double x4;
};

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels);

}  // namespace lumasift

#endif
