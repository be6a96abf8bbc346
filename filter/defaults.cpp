#include "exact_arithmetic.h"

#include "defaults.h"

#include <algorithm>
#include <cmath>

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The default rule's constants (see default_parameters).
constexpr double FALSE_EDGE_RATE = 0.004;
// The least threshold, as a share of the intensity scale. Without it a clean
// photograph, whose noise reads near 0, would take every faint ripple for an
// edge, or nothing at all where the noise reads 0; with it, its edges are
// those a hundredth of its range high. Noise of deviation 5 or more sets a
// higher threshold of its own.
constexpr double LEAST_THRESHOLD_SHARE = 0.01;
// A clean image's edges are its strongest: those the image's structure
// (ImageStatistics::structure) reaches. That floor stands while the noise
// reads below CLEAN_NOISE_SHARE of the scale and gives way, linearly, to the
// noise's threshold by NOISY_NOISE_SHARE, so that noisy images keep the
// threshold their noise sets.
constexpr double CLEAN_NOISE_SHARE = 0.01;
constexpr double NOISY_NOISE_SHARE = 0.02;
// log x = a + b log(max(texture, 1)) + c log(fine_texture + FINE_TEXTURE_FLOOR),
// held within [least, most]: {a, b, c, least, most} for x3 and for x4. The
// widths follow the texture next to the noise: smooth pictures take wide
// windows, fine texture narrow ones.
struct WidthRule {
    double constant;
    double per_log_texture;
    double per_log_fine_texture;
    double least;
    double most;
};
constexpr WidthRule X3_RULE = {0.1105, -0.7046, -0.1556, 0.4, 2.4};
constexpr WidthRule X4_RULE = {-1.4606, 0.1427, -0.24, 0.15, 1.25};
// And never above these times the relative noise, so that an image with
// little noise comes back nearly as it is.
constexpr double FINE_TEXTURE_FLOOR = 0.01;
constexpr double X3_PER_NOISE = 60.0;
constexpr double X4_PER_NOISE = 20.0;
// Widths of WIDTH_LEAST give every sample but the centre the weight
// exp(-1 / (4 * 0.01^2)), which is 0: a noiseless image comes back as it is.
constexpr double WIDTH_LEAST = 0.01;

double width_of(const WidthRule& rule, double per_noise, double relative, const ImageStatistics& statistics)
{
    if (!(relative > 0.0) || std::isnan(statistics.texture)) {
        return WIDTH_LEAST;
    }
    const double fitted =
        std::exp(rule.constant + rule.per_log_texture * std::log(std::max(statistics.texture, 1.0)) +
                 rule.per_log_fine_texture * std::log(statistics.fine_texture + FINE_TEXTURE_FLOOR));
    const double held = std::min(std::max(fitted, rule.least), rule.most);
    return std::max(std::min(held, per_noise * relative), WIDTH_LEAST);
}

}  // namespace

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels)
{
    const double relative = statistics.scale > 0.0 ? statistics.noise / statistics.scale : 0.0;
    // Each component of the gradient carries noise of this deviation, in
    // units of the image's: sqrt(sum([1 4 5 0 5 4 1].^2) * sum([1 4 6 4 1].^2)) / 512.
    const double gradient_noise_gain = std::sqrt(84.0 * 70.0) / 512.0;
    // The magnitude of noise alone is Rayleigh distributed; the strongest of
    // `channels` exceeds t with probability 1 - (1 - exp(-t^2 / 2))^channels.
    const double per_channel =
        std::pow(1.0 - FALSE_EDGE_RATE, 1.0 / static_cast<double>(std::max<std::ptrdiff_t>(channels, 1)));
    DefaultParameters defaults;
    const double noise_threshold = statistics.noise * gradient_noise_gain * std::sqrt(-2.0 * std::log(1.0 - per_channel));
    const double clean = std::min(std::max((NOISY_NOISE_SHARE - relative) / (NOISY_NOISE_SHARE - CLEAN_NOISE_SHARE), 0.0), 1.0);
    const double structure = std::isnan(statistics.structure) ? 0.0 : clean * statistics.structure;
    defaults.threshold = std::max({noise_threshold, LEAST_THRESHOLD_SHARE * statistics.scale, structure});
    defaults.x3 = width_of(X3_RULE, X3_PER_NOISE, relative, statistics);
    defaults.x4 = width_of(X4_RULE, X4_PER_NOISE, relative, statistics);
    return defaults;
}

}  // namespace lumasift
