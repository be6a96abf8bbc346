// The edge map's kernels, written once for any lane traits and included by
// kernel-inl.h. Each runs along a line, WIDTH positions at a time, and each
// position's arithmetic is the rule's own, in its order: vectors only do
// several positions at once, so every instruction set gives the same bits.
#ifndef LUMASIFT_LANES_EDGES_INL_H
#define LUMASIFT_LANES_EDGES_INL_H

#ifndef LANES_TARGET
#error "define LANES_TARGET, and the lane traits, before including edges-inl.h"
#endif

#include <cmath>

#include "lanes.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The traits' operations on one double, for the positions past the last
// whole vector.
struct OneLane {
    static constexpr int WIDTH = 1;
    using Vec = double;
    static Vec broadcast(double x) { return x; }
    static Vec load(const double* p) { return *p; }
    static void store(double* p, Vec v) { *p = v; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static Vec sub(Vec a, Vec b) { return a - b; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec divide(Vec a, Vec b) { return a / b; }
    static Vec sqrt(Vec a) { return std::sqrt(a); }
    static Vec max_number(Vec a, Vec b) { return std::fmax(a, b); }
};

// Step<V>::at(p, args...) for p = 0, WIDTH, ... with the vectors of L, then
// position by position: one statement of each formula serves both.
template <class L, template <class> class Step, class... Args>
LANES_TARGET LANES_INLINE void along_line(int count, Args... args)
{
    int p = 0;
    for (; p + L::WIDTH <= count; p += L::WIDTH) {
        Step<L>::at(p, args...);
    }
    for (; p < count; ++p) {
        Step<OneLane>::at(p, args...);
    }
}

// ((a + e) + 4 (b + d)) + 6 c: the binomial [1 4 6 4 1], unscaled.
template <class V>
LANES_TARGET LANES_INLINE typename V::Vec binomial(typename V::Vec a, typename V::Vec b, typename V::Vec c,
                                                   typename V::Vec d, typename V::Vec e)
{
    return V::add(V::add(V::add(a, e), V::mul(V::broadcast(4.0), V::add(b, d))), V::mul(V::broadcast(6.0), c));
}

// out[p] = binomial of x[p - 2] ... x[p + 2]; x holds two positions more on
// each side.
template <class V>
struct SmoothAlong {
    LANES_TARGET static LANES_INLINE void at(int p, const double* x, double* out)
    {
        V::store(out + p, binomial<V>(V::load(x + p - 2), V::load(x + p - 1), V::load(x + p), V::load(x + p + 1),
                                      V::load(x + p + 2)));
    }
};

// out[p] = binomial of lines[0][p] ... lines[4][p].
template <class V>
struct SmoothAcross {
    LANES_TARGET static LANES_INLINE void at(int p, const double* const* lines, double* out)
    {
        V::store(out + p, binomial<V>(V::load(lines[0] + p), V::load(lines[1] + p), V::load(lines[2] + p),
                                      V::load(lines[3] + p), V::load(lines[4] + p)));
    }
};

// strongest[p] = fmax(strongest[p], sqrt(across^2 + along^2) / 512), with
// across = after[p] - before[p] and along = line[p + 1] - line[p - 1]; line
// holds one position more on each side. Scaling by 1/512 is exact, as
// dividing by 512 is.
template <class V>
struct KeepStrongestGradient {
    LANES_TARGET static LANES_INLINE void at(int p, const double* before, const double* line, const double* after,
                                             double* strongest)
    {
        const typename V::Vec across = V::sub(V::load(after + p), V::load(before + p));
        const typename V::Vec along = V::sub(V::load(line + p + 1), V::load(line + p - 1));
        const typename V::Vec magnitude =
            V::mul(V::sqrt(V::add(V::mul(across, across), V::mul(along, along))), V::broadcast(1.0 / 512.0));
        V::store(strongest + p, V::max_number(V::load(strongest + p), magnitude));
    }
};

// edges[p] = (100 * strongest[p]) / threshold.
template <class V>
struct ScaleEdges {
    LANES_TARGET static LANES_INLINE void at(int p, const double* strongest, double* edges, double threshold)
    {
        V::store(edges + p, V::divide(V::mul(V::broadcast(100.0), V::load(strongest + p)), V::broadcast(threshold)));
    }
};

template <class L>
LANES_TARGET void smooth_along(const double* x, double* out, int count)
{
    along_line<L, SmoothAlong>(count, x, out);
}

template <class L>
LANES_TARGET void smooth_across(const double* const* lines, double* out, int count)
{
    along_line<L, SmoothAcross>(count, lines, out);
}

template <class L>
LANES_TARGET void keep_strongest_gradient(const double* before, const double* line, const double* after,
                                          double* strongest, int count)
{
    along_line<L, KeepStrongestGradient>(count, before, line, after, strongest);
}

template <class L>
LANES_TARGET void scale_edges(const double* strongest, double* edges, int count, double threshold)
{
    along_line<L, ScaleEdges>(count, strongest, edges, threshold);
}

template <class L>
constexpr EdgeKernels EDGE_KERNELS = {&smooth_along<L>, &smooth_across<L>, &keep_strongest_gradient<L>,
                                      &scale_edges<L>};

}  // namespace

}  // namespace lumasift

#endif
