#include "floor.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>

namespace {

constexpr int GROUPS = 4;
constexpr int WIDTH = 8;
constexpr int SPAN = GROUPS * WIDTH;

// The pixels of one span of four groups; the blend's cost does not depend
// on its mask, so any mask serves.
template <unsigned EDGED>
void floor_span(FloorScene& s, int line, int position)
{
    const int reach = s.reach;
    const int side = 2 * reach + 1;
    const __mmask8 masks[GROUPS] = {0x55, 0xaa, 0x33, 0xcc};
    __m512d sum[GROUPS];
    __m512d total[GROUPS];
#pragma GCC unroll 4
    for (int g = 0; g < GROUPS; ++g) {
        sum[g] = _mm512_setzero_pd();
        total[g] = _mm512_setzero_pd();
    }
    const auto add = [&](const double* values, double near_weight, double far_weight) {
        const __m512d near = _mm512_set1_pd(near_weight);
        const __m512d far = _mm512_set1_pd(far_weight);
#pragma GCC unroll 4
        for (int g = 0; g < GROUPS; ++g) {
            const __m512d v = _mm512_loadu_pd(values + g * WIDTH);
            if ((EDGED >> g) & 1u) {
                const __m512d w = _mm512_mask_blend_pd(masks[g], near, far);
                sum[g] = _mm512_add_pd(sum[g], _mm512_mul_pd(v, w));
                total[g] = _mm512_add_pd(total[g], w);
            } else {
                sum[g] = _mm512_add_pd(sum[g], _mm512_mul_pd(v, near));
            }
        }
    };
    const int first = std::max(line - reach, 0);
    const int last = std::min(line + reach, s.lines - 1);
    for (int l = first; l <= last; ++l) {
        const double* values = s.padded.data() + static_cast<std::ptrdiff_t>(l) * s.stride + s.pad + position;
        const double* near = s.near_weight.data() + (l - line + reach) * side + reach;
        const double* far = s.far_weight.data() + (l - line + reach) * side + reach;
        for (int d = -reach; d <= reach; ++d) {
            add(values + d, near[d], far[d]);
        }
    }
    // The centre enters twice.
    add(s.padded.data() + static_cast<std::ptrdiff_t>(line) * s.stride + s.pad + position, 1.0, 1.0);
    double* out = s.result.data() + static_cast<std::ptrdiff_t>(line) * s.stride + position;
    const __m512d plain = _mm512_set1_pd(s.plain_total);
#pragma GCC unroll 4
    for (int g = 0; g < GROUPS; ++g) {
        _mm512_storeu_pd(out + g * WIDTH, _mm512_div_pd(sum[g], ((EDGED >> g) & 1u) ? total[g] : plain));
    }
}

using SpanKernel = void (*)(FloorScene&, int, int);

template <unsigned... P>
constexpr std::array<SpanKernel, sizeof...(P)> kernels(std::integer_sequence<unsigned, P...>)
{
    return {&floor_span<P>...};
}

const auto SPAN_KERNELS = kernels(std::make_integer_sequence<unsigned, 16>{});

// The edge map's lines as bits, eight positions a compare.
void pack_edges(FloorScene& s, int line)
{
    const double* column = s.edges + static_cast<std::ptrdiff_t>(line) * s.length;
    auto* bytes = reinterpret_cast<std::uint8_t*>(s.edge_bits.data() + static_cast<std::ptrdiff_t>(line) * 17);
    const __m512d low = _mm512_set1_pd(101.0);
    const __m512d high = _mm512_set1_pd(2147483648.0);
    for (int p = 0; p < s.length; p += WIDTH) {
        const __mmask8 inside = static_cast<__mmask8>(s.length - p >= WIDTH ? 0xff : (1u << (s.length - p)) - 1u);
        const __m512d v = _mm512_maskz_loadu_pd(inside, column + p);
        const __mmask8 edge = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(v, low, _CMP_GE_OQ), v, high, _CMP_LT_OQ);
        bytes[p / WIDTH] = static_cast<std::uint8_t>(edge & inside);
    }
}

void filter_floor_line(FloorScene& s, int line)
{
    for (int position = 0; position < s.length; position += SPAN) {
        unsigned pattern = 0;
        for (int g = 0; g < GROUPS; ++g) {
            const int group = position / WIDTH + g;
            pattern |= (group < s.groups_per_line && s.edged[line * s.groups_per_line + group]) << g;
        }
        SPAN_KERNELS[pattern](s, line, position);
    }
}

}  // namespace

bool floor_available()
{
    return __builtin_cpu_supports("avx512f");
}

FloorScene make_floor_scene(const std::vector<double>& x1, const std::vector<double>& x2, int rows,
                            int cols, int reach)
{
    FloorScene s;
    s.lines = cols;
    s.length = rows;
    s.reach = reach;
    s.pad = reach + SPAN;
    s.stride = s.pad + (rows + SPAN - 1) / SPAN * SPAN + s.pad;
    s.padded.assign(static_cast<std::size_t>(cols) * s.stride, 0.0);
    for (int l = 0; l < cols; ++l) {
        std::copy(x1.begin() + static_cast<std::ptrdiff_t>(l) * rows, x1.begin() + static_cast<std::ptrdiff_t>(l + 1) * rows,
                  s.padded.begin() + static_cast<std::ptrdiff_t>(l) * s.stride + s.pad);
    }
    s.plain_total = 1.0;
    for (int dl = -reach; dl <= reach; ++dl) {
        for (int dp = -reach; dp <= reach; ++dp) {
            const double d2 = static_cast<double>(dl) * dl + static_cast<double>(dp) * dp;
            s.near_weight.push_back(std::exp(-d2 / 4.0));
            s.far_weight.push_back(std::exp(-d2 / 16.0));
            s.plain_total += s.near_weight.back();
        }
    }
    // Which windows hold an edge, by a table of sums over rectangles.
    std::vector<int> sums(static_cast<std::size_t>(cols + 1) * (rows + 1), 0);
    const auto at = [&](int l, int p) -> int& { return sums[static_cast<std::size_t>(l) * (rows + 1) + p]; };
    for (int l = 0; l < cols; ++l) {
        for (int p = 0; p < rows; ++p) {
            const double e = x2[static_cast<std::size_t>(l) * rows + p];
            at(l + 1, p + 1) = at(l, p + 1) + at(l + 1, p) - at(l, p) + (e >= 101.0 && e < 2147483648.0);
        }
    }
    s.groups_per_line = (rows + WIDTH - 1) / WIDTH;
    s.edged.assign(static_cast<std::size_t>(cols) * s.groups_per_line, 0);
    for (int l = 0; l < cols; ++l) {
        for (int p = 0; p < rows; ++p) {
            const int l0 = std::max(l - reach, 0), l1 = std::min(l + reach + 1, cols);
            const int p0 = std::max(p - reach, 0), p1 = std::min(p + reach + 1, rows);
            if (at(l1, p1) - at(l0, p1) - at(l1, p0) + at(l0, p0) > 0) {
                s.edged[static_cast<std::size_t>(l) * s.groups_per_line + p / WIDTH] = 1;
            }
        }
    }
    s.edges = x2.data();
    s.result.assign(s.padded.size(), 0.0);
    s.edge_bits.assign(static_cast<std::size_t>(cols) * 17, 0);
    return s;
}

// Lines handed out one at a time, as the product hands out its units; one
// pass over x2, then one over the sums.
void run_floor(FloorScene& scene, int threads)
{
    for (const bool sums : {false, true}) {
        std::atomic<int> next{0};
        const auto drain = [&scene, &next, sums] {
            for (int line; (line = next.fetch_add(1)) < scene.lines;) {
                if (sums) {
                    filter_floor_line(scene, line);
                } else {
                    pack_edges(scene, line);
                }
            }
        };
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads; ++t) {
            helpers.emplace_back(drain);
        }
        drain();
        for (std::thread& helper : helpers) {
            helper.join();
        }
    }
}
