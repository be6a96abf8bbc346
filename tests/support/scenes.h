// Random test images of several kinds, and helpers to filter and compare them.
#ifndef LUMASIFT_TESTS_SCENES_H
#define LUMASIFT_TESTS_SCENES_H

#include <cstdint>
#include <string>
#include <vector>

#include "filter/call.h"

struct Scene {
    int rows;
    int cols;
    double x3;
    double x4;
    std::vector<double> x1;  // column-major, like the host's arrays
    std::vector<double> x2;
    std::string description;
};

// The edge maps that scenes are made with: random values below the
// threshold with a few lone edges among them, straight lines, edges on the
// image's border, odd values (NaN, infinities, 1e10, values next to the
// threshold and next to 2^31), and edges on most pixels.
enum EdgeKind { NO_EDGES, SPARSE_EDGES, EDGE_LINES, BORDER_EDGES, ODD_VALUES, DENSE_EDGES, EDGE_KINDS };

// One scene of an edge kind, with NaN and infinite values in about one x1
// value in forty when `non_finite`.
Scene make_scene(int rows, int cols, double x3, double x4, EdgeKind kind, bool non_finite,
                 std::uint64_t seed);

struct SceneSize {
    int rows;
    int cols;
};

// `count` scenes cycling through `sizes`, with widths drawn from
// `near_widths` and a fixed list of far widths, edge maps of every kind (none,
// sparse, lines, border, odd values such as NaN and 1e10, dense) and, in
// every fifth scene, NaN and infinite values in x1. Wide windows are kept to
// images of at most `wide_window_side` rows and columns, for the literal
// evaluation's sake.
std::vector<Scene> make_scenes(int count, const std::vector<SceneSize>& sizes,
                               const std::vector<double>& near_widths, int wide_window_side,
                               std::uint64_t seed);

// An image with a few per cent of edge pixels in lines, as a gradient edge
// map of a natural scene has them.
Scene lined_scene(int rows, int cols, double x3, double x4);

// The product's result through filter_call, with whatever path and thread
// count filter_state holds.
std::vector<double> run_filter(const Scene& scene, const lumasift::CallOptions& options = {});
std::vector<double> run_filter(const std::vector<double>& x1, const std::vector<double>& x2,
                               int rows, int cols, double x3, double x4, const lumasift::CallOptions& options = {});

// The kernel choices to test: the literal evaluation (if asked for), every
// instruction set of the engine's table, and the fastest; and their names.
std::vector<lumasift::KernelChoice> every_kernel_choice(bool with_literal);
std::string kernel_name(lumasift::KernelChoice choice);

// Index of the first element whose bits differ (NaN equals NaN), or -1.
long first_difference(const std::vector<double>& a, const std::vector<double>& b);

#endif
