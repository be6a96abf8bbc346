#include "support/reference.h"

#include <cmath>
#include <cstdint>

namespace {

struct Offset {
    int dr, dc;
};

// The working state, laid out as the filter defines it.
struct Literal {
    int plane_side = 0;
    int rows = 0;
    int cols = 0;
    std::vector<double> value;
    std::vector<std::int32_t> edge;
    std::vector<std::int32_t> label;
    std::vector<double> result;
    double weight_total = 0;
    double sigma_near = 0;
    double sigma_far = 0;
    double sigma_active = 0;
    double window_radius = 0;

    std::size_t cell(int r, int c) const { return static_cast<std::size_t>(r) * plane_side + c; }
    bool inside(int r, int c) const { return 0 <= r && r < rows && 0 <= c && c < cols; }
};

const double P = 2.0;

std::int32_t to_int32(double x)
{
    const double t = std::trunc(x);
    if (std::isnan(t) || t < -2147483648.0 || t > 2147483647.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(t);
}

void load(Literal& s, const double* values, const double* edges)
{
    for (int i = 0; i < s.rows * s.cols; ++i) {
        const int column = static_cast<int>(std::floor(static_cast<double>(i) / s.rows));
        const int row = static_cast<int>(std::fmod(static_cast<double>(i), s.rows));
        s.value[s.cell(row, column)] = values[i];
        s.edge[s.cell(row, column)] = to_int32(edges[i]);
    }
}

bool is_shadowed(const Literal& s, int r, int c, int serial)
{
    return s.edge[s.cell(r, c)] > 100 || s.label[s.cell(r, c)] == serial;
}

double sample_weight(double distance, double sigma)
{
    const double n = std::pow(distance, P);
    const double q = std::pow(P * sigma, P);
    return std::exp(-n / q);
}

void accumulate_sample(Literal& s, int r, int c, int dr, int dc, double& sum)
{
    const double a = std::pow(static_cast<double>(dc), P);
    const double b = std::pow(static_cast<double>(dr), P);
    const double distance = std::sqrt(a + b);
    const double weight = sample_weight(distance, s.sigma_active);
    sum = sum + s.value[s.cell(r, c)] * weight;
    s.weight_total = s.weight_total + weight;
}

// Returns false when the point lies outside the image and was skipped.
bool visit(Literal& s, int a, int b, Offset q, bool ray_point, Offset mark, int serial,
           double& sum)
{
    const int r = a + q.dr;
    const int c = b + q.dc;
    if (!s.inside(r, c)) {
        return false;
    }
    if (is_shadowed(s, r, c, serial)) {
        s.sigma_active = s.sigma_far;
        const bool passes_on =
            ray_point || (r > 0 && c > 0 && r < s.rows - 1 && c < s.cols - 1);
        if (passes_on && s.inside(r + mark.dr, c + mark.dc)) {
            s.label[s.cell(r + mark.dr, c + mark.dc)] = serial;
        }
    }
    accumulate_sample(s, r, c, q.dr, q.dc, sum);
    return true;
}

// One row of the wedge table: where s starts and which way s and t run, the
// offsets of the ray point and of the two diagonals, and the mark target.
struct WedgeRow {
    int s_start;
    int direction;
    Offset (*ray)(int s);
    Offset (*first)(int s, int t);
    Offset (*second)(int s, int t);
    Offset mark;
};

const WedgeRow WEDGE_TABLE[4] = {
    {0, +1, [](int s) { return Offset{0, s}; },
     [](int s, int t) { return Offset{t - s, t}; },
     [](int s, int t) { return Offset{-(t - s), t}; }, {0, 1}},
    {0, -1, [](int s) { return Offset{0, s}; },
     [](int s, int t) { return Offset{s - t, t}; },
     [](int s, int t) { return Offset{t - s, t}; }, {0, -1}},
    {-1, -1, [](int s) { return Offset{s, 0}; },
     [](int s, int t) { return Offset{t, t - s}; },
     [](int s, int t) { return Offset{t, s - t}; }, {-1, 0}},
    {1, +1, [](int s) { return Offset{s, 0}; },
     [](int s, int t) { return Offset{t, s - t}; },
     [](int s, int t) { return Offset{t, t - s}; }, {1, 0}},
};

void run_wedge(Literal& s, const WedgeRow& w, int a, int b, int reach, int serial,
               double& sum)
{
    for (int k = w.s_start; w.direction * k <= reach; k += w.direction) {
        if (!visit(s, a, b, w.ray(k), true, w.mark, serial, sum)) {
            continue;
        }
        for (int t = k + w.direction; w.direction * t <= reach; t += w.direction) {
            visit(s, a, b, w.first(k, t), false, w.mark, serial, sum);
        }
        s.sigma_active = s.sigma_near;
        for (int t = k + w.direction; w.direction * t <= reach; t += w.direction) {
            visit(s, a, b, w.second(k, t), false, w.mark, serial, sum);
        }
        s.sigma_active = s.sigma_near;
    }
}

// trunc(window_radius). Only so that the loops end, a reach past the image is
// cut to rows + cols: no offset that long lands inside the image.
int reach_of(const Literal& s)
{
    const double r = std::trunc(s.window_radius);
    if (std::isnan(r)) {
        return -1;
    }
    return static_cast<int>(std::fmax(-1.0, std::fmin(r, s.rows + s.cols)));
}

double wedge_sum(Literal& s, int a, int b, int serial)
{
    s.sigma_active = s.sigma_near;
    const int reach = reach_of(s);
    double sum = 0;
    for (const WedgeRow& w : WEDGE_TABLE) {
        run_wedge(s, w, a, b, reach, serial, sum);
        s.sigma_active = s.sigma_near;
    }
    return sum;
}

// The planes for an image, as the driver's first two passes leave them.
// Like the filter's own state, they outlive the call: cells outside the
// image keep what earlier calls left, and are never read.
Literal& loaded(const double* x1, const double* x2, int rows, int cols, double x3, double x4, int plane_side)
{
    static Literal s;
    if (s.plane_side != plane_side) {
        const std::size_t cells = static_cast<std::size_t>(plane_side) * plane_side;
        s.plane_side = plane_side;
        s.value.resize(cells);
        s.edge.resize(cells);
        s.label.resize(cells);
        s.result.resize(cells);
    }
    s.rows = rows;
    s.cols = cols;
    s.sigma_near = x3;
    s.sigma_far = x4;
    s.sigma_active = x3;
    s.window_radius = 3.0 * x3 + 1;

    load(s, x1, x2);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            s.label[s.cell(r, c)] = -1;
        }
    }
    return s;
}

// The driver's third pass for one pixel, with the serial it has there.
double filter_pixel(Literal& s, int r, int c)
{
    s.weight_total = 0;
    const double sum = wedge_sum(s, r, c, r * s.cols + c);
    return sum / s.weight_total;
}

}  // namespace

std::vector<double> reference_lumasift(const double* x1, const double* x2, int rows, int cols,
                                       double x3, double x4, int plane_side)
{
    if (rows > plane_side || cols > plane_side) {
        return {};
    }
    Literal& s = loaded(x1, x2, rows, cols, x3, x4, plane_side);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            s.result[s.cell(r, c)] = filter_pixel(s, r, c);
        }
    }
    std::vector<double> y(static_cast<std::size_t>(rows) * cols);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            y[static_cast<std::size_t>(c) * rows + r] = s.result[s.cell(r, c)];
        }
    }
    return y;
}

// A pixel's result depends on no other pixel's: each reads only the marks
// of its own serial. So some pixels alone give the same values.
std::vector<double> reference_lumasift_at(const double* x1, const double* x2, int rows, int cols, double x3,
                                          double x4, const std::vector<std::pair<int, int>>& pixels)
{
    Literal& s = loaded(x1, x2, rows, cols, x3, x4, 1000);
    std::vector<double> y;
    for (const auto& [r, c] : pixels) {
        y.push_back(filter_pixel(s, r, c));
    }
    return y;
}
