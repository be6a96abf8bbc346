#include "filter/convert.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "filter/lanes/lanes.h"
#include "support/host_conversion.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// Halves, their neighbours, both bounds of every class and past them.
std::vector<double> awkward_values()
{
    std::vector<double> values = {NaN, Inf, -Inf, 0.0, -0.0, 4e-320, -4e-320, 1e300, -1e300};
    for (const double bound : {0.0, 127.0, -128.0, 255.0, 32767.0, -32768.0, 65535.0, 2147483647.0,
                               -2147483648.0, 4294967295.0, 9223372036854775807.0, -9223372036854775808.0,
                               18446744073709551615.0}) {
        for (const double step : {-1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5}) {
            const double v = bound + step;
            values.push_back(v);
            values.push_back(std::nextafter(v, Inf));
            values.push_back(std::nextafter(v, -Inf));
        }
    }
    for (double v = -3.0; v <= 3.0; v += 0.25) {
        values.push_back(v);
    }
    values.push_back(0.49999999999999994);
    values.push_back(-0.49999999999999994);
    return values;
}

template <class T>
void expect_host_rule()
{
    for (const double y : awkward_values()) {
        EXPECT_EQ(converted<T>(y), host_conversion<T>(y)) << y << " as a " << sizeof(T) << "-byte integer";
    }
}

TEST(ConvertTest, IntegersRoundHalfAwayFromZeroAndSaturate)
{
    expect_host_rule<std::int8_t>();
    expect_host_rule<std::uint8_t>();
    expect_host_rule<std::int16_t>();
    expect_host_rule<std::uint16_t>();
    expect_host_rule<std::int32_t>();
    expect_host_rule<std::uint32_t>();
    expect_host_rule<std::int64_t>();
    expect_host_rule<std::uint64_t>();
}

// Every instruction set's byte conversions against the scalar rule, at every
// length up to a few vectors, so that the tails are reached too.
TEST(ConvertTest, EveryInstructionSetConvertsBytesAsTheRuleDoes)
{
    const std::vector<double> values = awkward_values();
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        const LaneKernels lanes = set.kernels();
        if (lanes.filter_line == nullptr) {
            continue;
        }
        for (std::size_t count = 0; count <= 40; ++count) {
            for (std::size_t first = 0; first + count <= values.size(); first += 13) {
                std::vector<std::uint8_t> bytes(count + 1, 77);
                lanes.store_bytes(values.data() + first, bytes.data(), static_cast<int>(count));
                for (std::size_t i = 0; i < count; ++i) {
                    ASSERT_EQ(bytes[i], host_conversion<std::uint8_t>(values[first + i])) << values[first + i];
                }
                ASSERT_EQ(bytes[count], 77) << "written past the end";
                std::vector<double> back(count + 1, -7.0);
                lanes.load_bytes(bytes.data(), back.data(), static_cast<int>(count));
                for (std::size_t i = 0; i < count; ++i) {
                    ASSERT_EQ(back[i], static_cast<double>(bytes[i]));
                }
                ASSERT_EQ(back[count], -7.0) << "written past the end";
            }
        }
    }
}

}  // namespace
