#include "filter/statistics.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/noise_reference.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A smooth picture (a ramp and a slow wave) with Gaussian noise of `sigma`,
// as the class holds it: integers rounded and clipped to their range.
struct NoiseCase {
    const char* name;
    ElementClass type;
    int rows;
    int cols;
    int channels;
    double mean;
    double sigma;
    bool reads_sigma;  // the reading must land near sigma
};

const NoiseCase CASES[] = {
    {"uint8 sigma 2", ElementClass::uint8, 300, 400, 1, 120.0, 2.0, true},
    {"uint8 sigma 5, three channels", ElementClass::uint8, 200, 150, 3, 100.0, 5.0, true},
    {"uint8 sigma 12", ElementClass::uint8, 256, 256, 1, 128.0, 12.0, true},
    {"uint8 dark, clipped at 0", ElementClass::uint8, 240, 200, 1, 4.0, 6.0, false},
    {"uint16 sigma 300, over 131072 blocks", ElementClass::uint16, 1700, 1700, 3, 30000.0, 300.0, true},
    {"double sigma 0.01, NaN and Inf", ElementClass::float64, 200, 260, 1, 0.5, 0.01, true},
    {"single sigma 0.05", ElementClass::float32, 90, 120, 2, 0.3, 0.05, true},
    {"double 12 x 10: overlapping blocks", ElementClass::float64, 12, 10, 1, 0.5, 0.1, false},
    {"double 8 x 8: one block", ElementClass::float64, 8, 8, 1, 0.5, 0.1, false},
    {"double 5 x 5: no block", ElementClass::float64, 5, 5, 1, 0.5, 0.1, false},
    {"uint8 1 x 1", ElementClass::uint8, 1, 1, 1, 9.0, 1.0, false},
};

std::vector<double> noisy_picture(const NoiseCase& c, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, c.sigma);
    std::vector<double> values(static_cast<std::size_t>(c.rows) * c.cols * c.channels);
    std::size_t at = 0;
    for (int channel = 0; channel < c.channels; ++channel) {
        for (int col = 0; col < c.cols; ++col) {
            for (int row = 0; row < c.rows; ++row) {
                const double picture = c.mean * (1.0 + 0.1 * std::sin(row / 40.0 + channel) + 0.05 * col / c.cols);
                values[at++] = picture + noise(random);
            }
        }
    }
    if (c.type == ElementClass::float64 && values.size() > 1000) {
        values[17] = NaN;
        values[500] = std::numeric_limits<double>::infinity();
    }
    return values;
}

// The picture as the class holds it, and those values back as doubles.
template <class T>
HostImage stored(const NoiseCase& c, std::vector<double>& values, std::vector<T>& elements, ElementClass type)
{
    for (double& value : values) {
        if constexpr (std::is_integral_v<T>) {
            value = std::fmin(std::fmax(std::round(value), std::numeric_limits<T>::min()), std::numeric_limits<T>::max());
        }
        elements.push_back(static_cast<T>(value));
        value = static_cast<double>(elements.back());
    }
    return {elements.data(), type, c.rows, c.cols, c.channels, column_major(c.rows, c.cols)};
}

bool same_bits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Each image's readings are the plain statement's, bit for bit, on one
// thread and on several; and where the picture leaves blocks enough, the
// noise read is the noise put in.
TEST(StatisticsTest, ReadingsAreThePlainRulesAndFindTheNoise)
{
    std::uint64_t seed = 1;
    for (const NoiseCase& c : CASES) {
        std::vector<double> values = noisy_picture(c, seed++);
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint16_t> words;
        std::vector<float> singles;
        std::vector<double> doubles;
        HostImage image;
        double below = -std::numeric_limits<double>::infinity();
        double above = std::numeric_limits<double>::infinity();
        double scale = -1.0;
        switch (c.type) {
        case ElementClass::uint8:
            image = stored(c, values, bytes, c.type);
            below = 0.0, above = 255.0, scale = 255.0;
            break;
        case ElementClass::uint16:
            image = stored(c, values, words, c.type);
            below = 0.0, above = 65535.0, scale = 65535.0;
            break;
        case ElementClass::float32:
            image = stored(c, values, singles, c.type);
            break;
        default:
            image = stored(c, values, doubles, c.type);
        }
        const ReferenceStatistics expected = reference_statistics(values, c.rows, c.cols, c.channels, below, above, scale);
        for (const int threads : {1, 3}) {
            CallOptions options;
            options.threads = threads;
            ImageStatistics read{};
            ASSERT_TRUE(measure_image(image, read, options));
            EXPECT_TRUE(same_bits(read.noise, expected.noise)) << c.name << ": " << read.noise << " " << expected.noise;
            EXPECT_TRUE(same_bits(read.scale, expected.scale)) << c.name << ": " << read.scale << " " << expected.scale;
            EXPECT_TRUE(same_bits(read.texture, expected.texture)) << c.name;
            EXPECT_TRUE(same_bits(read.fine_texture, expected.fine_texture)) << c.name;
            EXPECT_TRUE(same_bits(read.structure, expected.structure)) << c.name;
        }
        if (c.reads_sigma) {
            EXPECT_NEAR(expected.noise, c.sigma, 0.1 * c.sigma) << c.name;
        }
    }
}

}  // namespace
