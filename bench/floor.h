// The floor of this machine for one call: only the floating-point work that
// no evaluation with the literal bits can skip, on AVX-512, with everything
// else free. Per sample of a window, one multiply and one add into the
// pixel's sum; where the pixel's lane group has an edge in its windows, a
// blend of the two weights and a second add into the weight total; each
// pixel's additions in sequence, no fused multiply-add, four groups of eight
// lanes in flight. Plus one vectorised pass over the edge map that turns it
// into bits. Which groups hold edges, the weights, and a copy of the values
// padded along the lines (so that no lane is masked) are set up beforehand
// and not timed; border windows are clipped across lines but not along
// them, which only adds work to the floor.
#ifndef LUMASIFT_BENCH_FLOOR_H
#define LUMASIFT_BENCH_FLOOR_H

#include <cstdint>
#include <vector>

struct FloorScene {
    int lines;      // the image's columns
    int length;     // the image's rows
    int reach;
    int pad;        // values before and after each line
    int stride;     // pad + length rounded up + pad
    std::vector<double> padded;   // lines x stride
    std::vector<double> near_weight;  // (2 reach + 1)^2, row by row
    std::vector<double> far_weight;
    double plain_total;
    // One flag per group of eight positions of each line: an edge lies in
    // the windows of one of its pixels.
    std::vector<std::uint8_t> edged;
    int groups_per_line;
    const double* edges;  // x2, column-major
    std::vector<double> result;
    std::vector<std::uint64_t> edge_bits;
};

// False where the processor lacks AVX-512F; then nothing else here may run.
bool floor_available();

// x1 and x2 column-major, rows x cols.
FloorScene make_floor_scene(const std::vector<double>& x1, const std::vector<double>& x2, int rows,
                            int cols, int reach);

// The timed work: the pass over x2 and the sums, on `threads` threads.
void run_floor(FloorScene& scene, int threads);

#endif
