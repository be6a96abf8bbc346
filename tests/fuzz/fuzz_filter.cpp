// libFuzzer target: decodes an image, its edge map, both widths, a path and
// a thread count from the fuzzer's bytes, and checks the product against the
// literal evaluation bit for bit (NaN equal to NaN). Built by
// scripts/fuzz.sh with clang.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "filter/convert.h"
#include "filter/lanes/lanes.h"
#include "filter/lumasift.h"
#include "support/reference.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

const double SPECIAL_VALUES[] = {NaN,    Inf,   -Inf,   0.0,  -0.0,         100.0,        100.9,
                                 101.0, -500.0, 1e10,  -1e10, 2147483648.0, 2147483647.9, 4e-320,
                                 -1.0,  1e300,  -2.0 / 3, 1e-300};

// Reads the input a byte at a time; past its end, every byte is 0.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }

    double raw_double()
    {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
        }
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    double special() { return SPECIAL_VALUES[byte() % std::size(SPECIAL_VALUES)]; }
};

double width(Input& in)
{
    const std::uint8_t kind = in.byte();
    if (kind < 160) {
        return kind / 16.0 - 0.9;  // -0.9 to 9: every reach from none to 28
    }
    return kind < 224 ? in.special() : in.raw_double();
}

double value(Input& in)
{
    const std::uint8_t kind = in.byte();
    if (kind < 232) {
        return (kind - 100) / 7.0;
    }
    return kind < 248 ? in.special() : in.raw_double();
}

double edge(Input& in)
{
    const std::uint8_t kind = in.byte();
    if (kind < 200) {
        return kind / 2.0;  // below the threshold
    }
    if (kind < 240) {
        return 101.0 + kind;
    }
    return kind < 252 ? in.special() : in.raw_double();
}

bool same_bits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size, 0};
    const double x3 = width(in);
    const double x4 = width(in);
    // Up to 48 pixels a side, so that lane groups find windows inside the
    // image; smaller where a huge window makes the literal evaluation slow.
    const int side = std::fabs(x3) <= 3.0 ? 48 : 16;
    const int rows = 1 + in.byte() % side;
    const int cols = 1 + in.byte() % side;
    // Any instruction set of the engine's table, or the fastest.
    constexpr int CHOICES = sizeof INSTRUCTION_SETS / sizeof INSTRUCTION_SETS[0] + 1;
    const int pick = in.byte() % CHOICES;
    const KernelChoice choice = pick < CHOICES - 1 ? INSTRUCTION_SETS[pick].choice : KernelChoice::fastest;
    const int threads = 1 + in.byte() % 3;

    std::vector<double> x1(static_cast<std::size_t>(rows) * cols);
    std::vector<double> x2(x1.size());
    for (std::size_t i = 0; i < x1.size(); ++i) {
        x1[i] = value(in);
        x2[i] = edge(in);
    }

    const std::vector<double> expected = reference_lumasift(x1.data(), x2.data(), rows, cols, x3, x4);
    std::vector<double> actual(x1.size());
    filter_call(x1.data(), x2.data(), rows, cols, x3, x4, actual.data(), {choice, threads, nullptr});
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (!same_bits(actual[i], expected[i])) {
            __builtin_trap();
        }
    }
    // The same picture in bytes through the tiles, where results may come
    // from the float approximation: the rule's bytes, converted.
    std::vector<std::uint8_t> bytes(x1.size());
    std::vector<double> byte_values(x1.size());
    for (std::size_t i = 0; i < x1.size(); ++i) {
        bytes[i] = converted<std::uint8_t>(x1[i] * 17.0);
        byte_values[i] = bytes[i];
    }
    const std::vector<double> byte_rule = reference_lumasift(byte_values.data(), x2.data(), rows, cols, x3, x4);
    std::vector<std::uint8_t> smoothed(bytes.size());
    const Layout layout = column_major(rows, cols);
    const TiledImage image{{bytes.data(), ElementClass::uint8, rows, cols, 1, layout}, x2.data(), ElementClass::float64,
                           false, layout, smoothed.data(), layout, 0.0};
    if (tiles_fit(rows, cols, x3)) {
        filter_tiled(image, x3, x4, {choice, threads, nullptr});
        for (std::size_t i = 0; i < smoothed.size(); ++i) {
            if (smoothed[i] != converted<std::uint8_t>(byte_rule[i])) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
