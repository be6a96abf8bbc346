// lumasift filter core: the module-wide working state and the image driver.
//
// The core knows nothing of the host. It reads column-major arrays, works on
// row-major planes held in one static record, and writes a column-major result.
#ifndef LUMASIFT_FILTER_H
#define LUMASIFT_FILTER_H

#include <atomic>
#include <cstdint>
#include <mutex>

// Row stride of every plane, and the largest number of rows and of columns.
constexpr int PLANE_STRIDE = 1000;
// The window's half-width is RADIUS_FACTOR * sigma_near + 1, truncated.
constexpr double RADIUS_FACTOR = 3.0;
// Exponent of the distance and of the Gaussian weight.
constexpr double WEIGHT_EXPONENT = 2.0;
// An edge-map value above this marks an edge pixel.
constexpr std::int32_t EDGE_THRESHOLD = 100;
// Label of a pixel that no shadow has marked.
constexpr std::int32_t NO_LABEL = -1;
// Most threads a call runs on.
constexpr int MAX_WORKERS = 64;
// Largest reach whose window gets a visiting schedule; wider windows are
// walked wedge by wedge, which costs little next to their many samples.
constexpr int MAX_SCHEDULED_REACH = 100;
constexpr int MAX_SCHEDULE_LENGTH = (2 * MAX_SCHEDULED_REACH + 1) * (2 * MAX_SCHEDULED_REACH + 1) + 1;
constexpr int MAX_SCHEDULE_SEGMENTS = 4 * 2 * (MAX_SCHEDULED_REACH + 1);
constexpr int EDGE_WORDS = PLANE_STRIDE / 64 + 2;

// How filter_image evaluates the window sums. All give the same bits.
enum class KernelPath : std::int32_t {
    fastest = 0,  // the widest lanes this processor has
    literal,      // wedge_sum, one sample after another with pow, sqrt and exp
    scalar,       // the lane kernel one pixel wide: weight tables, private marks
    avx2,         // four pixels per lane group
    avx512,       // eight pixels per lane group
};

// One sample of a window that lies inside the image, in visiting order.
// In the lane view's coordinates, where the image's offset (dr, dc) is
// (dc, dr).
struct ScheduleEntry {
    std::int32_t dr;
    std::int32_t dc;
    // dr * lane_view.cols + dc.
    std::int32_t offset;
    double near_weight;
    double far_weight;
};

// A run of the schedule that starts from the near width: a ray point with
// its first diagonal walk, which inherits the ray point's width, or a second
// diagonal walk.
struct ScheduleSegment {
    std::int32_t begin;
    std::int32_t end;
    // Where the run's first sample keeps its mark for the next ray step; the
    // others follow. Marks of the ray point and first walk take slots 0 to
    // reach, those of the second walk reach + 1 onward.
    std::int32_t mark_slot;
    // The first run of a wedge, which finds no marks.
    bool starts_wedge;
};

// x1 seen with rows and columns swapped: its column c is row c here.
struct LaneView {
    const double* values;  // x1
    double* results;       // the result matrix
    std::int32_t rows;     // x1's columns
    std::int32_t cols;     // x1's rows, and the row stride
};

struct FilterState {
    std::int32_t rows;
    std::int32_t cols;
    double value_plane[PLANE_STRIDE][PLANE_STRIDE];
    std::int32_t edge_plane[PLANE_STRIDE][PLANE_STRIDE];
    // Holds the serial of the pixel whose wedge last marked the cell as lying
    // behind an edge; a mark counts only for that pixel.
    std::int32_t label_plane[PLANE_STRIDE][PLANE_STRIDE];
    double result_plane[PLANE_STRIDE][PLANE_STRIDE];
    double weight_total;
    double sigma_near;
    double sigma_far;
    double sigma_active;
    double window_radius;

    // Set up once per call for the lane kernels. A sample's weight depends
    // only on its offset and the width in use; by symmetry the tables are
    // indexed by the offset's larger and smaller magnitude.
    std::int32_t reach;
    double near_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    double far_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    // The samples of a window inside the image, for reach up to
    // MAX_SCHEDULED_REACH, and its weight total when it holds no edge.
    ScheduleEntry schedule[MAX_SCHEDULE_LENGTH];
    std::int32_t schedule_length;
    ScheduleSegment segments[MAX_SCHEDULE_SEGMENTS];
    std::int32_t segment_count;
    double plain_weight_total;
    // The image as the lane kernels see it: the host's column-major arrays
    // read in place as a row-major image with rows and columns swapped, so
    // that they need no copy in either direction.
    LaneView lane_view;
    // The edge pixels of each row of the lane view as bits, column c at bit
    // c % 64 of word c / 64, with a spare word for reads that straddle two.
    // The lane kernels read their lanes' edges from here, many at a time.
    std::uint64_t edge_bits[PLANE_STRIDE][EDGE_WORDS];

    // Choices that tests and benchmarks may set; zero means automatic: the
    // fastest path, and as many threads as the processor and the work justify.
    KernelPath kernel_path;
    std::int32_t thread_count;

    // Hands out the units of work of a parallel pass.
    std::atomic<std::int32_t> next_unit;
    // Held for a whole call: the state is shared by every call of the module.
    std::mutex call_lock;
};

// Zero-filled at load time, never freed.
extern FilterState filter_state;

// Filters the rows x cols image set in filter_state. `values` and `edges` hold
// x1 and x2 column-major; `result` receives the filtered image column-major.
// Expects rows, cols (each at most PLANE_STRIDE), sigma_near, sigma_far and
// window_radius to be set. Calls must not overlap.
void filter_image(const double* values, double* result, const double* edges);

// Sets a call's parameters and runs filter_image, holding call_lock so that
// calls from several host threads take turns.
void filter_call(int rows, int cols, double sigma_near, double sigma_far, const double* values,
                 double* result, const double* edges);

// x2's value as the edge plane holds it: truncated toward zero, with NaN and
// values beyond 32 bits mapped to the most negative integer so that they never
// count as edges. Inline: the load pass calls it for every pixel.
inline std::int32_t edge_level(double edge_value)
{
    // The bounds are the first integers that truncation cannot bring into
    // range; NaN fails both comparisons.
    const bool fits = edge_value > -2147483649.0 && edge_value < 2147483648.0;
    return fits ? static_cast<std::int32_t>(edge_value) : INT32_MIN;
}

#endif
