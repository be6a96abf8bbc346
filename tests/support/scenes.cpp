#include "support/scenes.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "filter/lanes/lanes.h"
#include "filter/lumasift.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

std::vector<double> make_edges(EdgeKind kind, int rows, int cols, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x2(static_cast<std::size_t>(rows) * cols, 0.0);
    auto at = [&](int r, int c) -> double& { return x2[static_cast<std::size_t>(c) * rows + r]; };
    const double odd_values[] = {100.0, 100.9, 101.0, -500.0, NaN, Inf, -Inf, 1e10, -1e10,
                                 2147483648.0, 2147483647.9, 0.0, 150.0};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const double u = unit(rng);
            switch (kind) {
            case SPARSE_EDGES: at(r, c) = u < 0.03 ? 101 + 150 * unit(rng) : 100 * unit(rng); break;
            case DENSE_EDGES: at(r, c) = u < 0.6 ? 255.0 : 0.0; break;
            case ODD_VALUES: at(r, c) = odd_values[rng() % std::size(odd_values)]; break;
            case BORDER_EDGES:
                if ((r == 0 || c == 0 || r == rows - 1 || c == cols - 1) && u < 0.5) {
                    at(r, c) = 200.0;
                }
                break;
            default: break;
            }
        }
    }
    if (kind == EDGE_LINES) {
        const int line_row = static_cast<int>(rng() % rows);
        const int line_col = static_cast<int>(rng() % cols);
        for (int c = 0; c < cols; ++c) {
            at(line_row, c) = 200.0;
        }
        for (int r = 0; r < rows; ++r) {
            at(r, line_col) = 200.0;
            at(r, (r + line_col) % cols) = 200.0;
        }
    }
    return x2;
}

std::vector<double> make_values(bool with_non_finite, int rows, int cols, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> value(-2.0, 3.0);
    std::vector<double> x1(static_cast<std::size_t>(rows) * cols);
    for (double& v : x1) {
        v = value(rng);
        if (with_non_finite && rng() % 40 == 0) {
            const double specials[] = {NaN, Inf, -Inf};
            v = specials[rng() % 3];
        }
    }
    return x1;
}

}  // namespace

Scene make_scene(int rows, int cols, double x3, double x4, EdgeKind kind, bool non_finite,
                 std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    Scene s{rows, cols, x3, x4, make_values(non_finite, rows, cols, rng), make_edges(kind, rows, cols, rng), {}};
    std::ostringstream text;
    text << rows << "x" << cols << ", x3 " << x3 << ", x4 " << x4 << ", edge kind " << kind
         << (non_finite ? ", non-finite x1" : "") << ", seed " << seed;
    s.description = text.str();
    return s;
}

std::vector<Scene> make_scenes(int count, const std::vector<SceneSize>& sizes,
                               const std::vector<double>& near_widths, int wide_window_side,
                               std::uint64_t seed)
{
    const double far_widths[] = {4.0, 0.0, -2.0, NaN, 0.7, 1.0, Inf, 1e-3};
    std::mt19937_64 rng(seed);
    std::vector<Scene> scenes;
    for (int i = 0; i < count; ++i) {
        const SceneSize size = sizes[i % sizes.size()];
        Scene s{size.rows, size.cols, near_widths[rng() % near_widths.size()],
                far_widths[rng() % std::size(far_widths)], {}, {}, {}};
        if (std::max(s.rows, s.cols) > wide_window_side && !(std::fabs(s.x3) <= 1.37)) {
            s.x3 = 1.37;
        }
        const auto kind = static_cast<EdgeKind>((i / sizes.size()) % EDGE_KINDS);
        const bool non_finite = i % 5 == 0;
        s.x1 = make_values(non_finite, s.rows, s.cols, rng);
        s.x2 = make_edges(kind, s.rows, s.cols, rng);
        std::ostringstream text;
        text << "scene " << i << ": " << s.rows << "x" << s.cols << ", x3 " << s.x3 << ", x4 "
             << s.x4 << ", edge kind " << kind << (non_finite ? ", non-finite x1" : "");
        s.description = text.str();
        scenes.push_back(std::move(s));
    }
    return scenes;
}

Scene lined_scene(int rows, int cols, double x3, double x4)
{
    std::mt19937_64 rng(7);
    Scene s{rows, cols, x3, x4, make_values(false, rows, cols, rng), {}, "lined scene"};
    s.x2.assign(static_cast<std::size_t>(rows) * cols, 0.0);
    // Straight and slanted lines, one pixel wide, about a hundred pixels apart.
    for (int line = 0; line < (rows + cols) / 50; ++line) {
        const int r0 = static_cast<int>(rng() % rows);
        const int c0 = static_cast<int>(rng() % cols);
        const int slope = static_cast<int>(rng() % 5) - 2;
        const bool horizontal = rng() % 2 == 0;
        for (int t = 0; t < (horizontal ? cols : rows); ++t) {
            const int r = horizontal ? (r0 + t * slope / 4 + rows) % rows : t;
            const int c = horizontal ? t : (c0 + t * slope / 4 + cols) % cols;
            s.x2[static_cast<std::size_t>(c) * rows + r] = 150.0 + 100.0 * (rng() % 2);
        }
    }
    return s;
}

std::vector<double> run_filter(const std::vector<double>& x1, const std::vector<double>& x2,
                               int rows, int cols, double x3, double x4, const CallOptions& options)
{
    std::vector<double> y(x1.size(), -7.0);
    filter_call(x1.data(), x2.data(), rows, cols, x3, x4, y.data(), options);
    return y;
}

std::vector<double> run_filter(const Scene& scene, const CallOptions& options)
{
    return run_filter(scene.x1, scene.x2, scene.rows, scene.cols, scene.x3, scene.x4, options);
}

std::vector<KernelChoice> every_kernel_choice(bool with_literal)
{
    std::vector<KernelChoice> choices;
    if (with_literal) {
        choices.push_back(KernelChoice::literal);
    }
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        choices.push_back(set.choice);
    }
    choices.push_back(KernelChoice::fastest);
    return choices;
}

std::string kernel_name(KernelChoice choice)
{
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        if (set.choice == choice) {
            return set.name;
        }
    }
    return choice == KernelChoice::literal ? "literal" : "fastest";
}

long first_difference(const std::vector<double>& a, const std::vector<double>& b)
{
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const bool both_nan = std::isnan(a[i]) && std::isnan(b[i]);
        if (!both_nan && std::memcmp(&a[i], &b[i], sizeof a[i]) != 0) {
            return static_cast<long>(i);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}
