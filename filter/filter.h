// lumasift filter core: the module-wide working state and the image driver.
//
// The core knows nothing of the host. It reads column-major arrays, works on
// row-major planes held in one static record, and writes a column-major
// result. Two engines give the same bits: the definition itself (sample.h,
// wedge.h), and the lane engine (lanes/), which does less work per sample.
#ifndef LUMASIFT_FILTER_H
#define LUMASIFT_FILTER_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "hidden.h"
#include "lanes/types.h"

namespace lumasift LUMASIFT_HIDDEN {

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

static_assert(LANE_VIEW_SIDE == PLANE_STRIDE, "the lane engine works within the planes");

// How filter_image evaluates the window sums. All give the same bits.
enum class KernelPath : std::int32_t {
    fastest = 0,  // the widest lanes this processor has
    literal,      // wedge_sum, one sample after another with pow, sqrt and exp
    scalar,       // the lane kernel one pixel wide: weight tables, private marks
    avx2,         // four pixels per lane group
    avx512,       // eight pixels per lane group
    neon,         // two pixels per lane group, on AArch64
};

// Asked on the calling thread between units of work: true ends the call
// early, leaving its result incomplete. The host's interrupt flag reaches
// the core this way, as a plain yes or no.
using StopRequest = bool (*)();

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

    // Set up once per call for the lane engine. A sample's weight depends
    // only on its offset and the width in use; by symmetry the tables are
    // indexed by the offset's larger and smaller magnitude.
    std::int32_t reach;
    double near_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    double far_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    // The samples of a window inside the image, for reach up to
    // MAX_SCHEDULED_REACH, and its weight total when it holds no edge.
    ScheduleEntry schedule[MAX_SCHEDULE_LENGTH];
    std::int32_t schedule_length;
    double plain_weight_total;
    LaneView lane_view;
    // The edge pixels of each line of the lane view as bits, position p at
    // bit EDGE_FRONT_BITS + p. The lane kernels read their lanes' edges from
    // here, many at a time.
    std::uint64_t edge_bits[PLANE_STRIDE][EDGE_ROW_WORDS];
    // Bit p: an edge lies on the line within reach of position p. Set with
    // the edge bits where the kernels follow a schedule.
    std::uint64_t near_edge_bits[PLANE_STRIDE][EDGE_WORDS];

    // Choices that tests and benchmarks may set; zero means automatic: the
    // fastest path, and as many threads as the processor and the work justify.
    KernelPath kernel_path;
    std::int32_t thread_count;

    // Units of work of a parallel pass, and whether the call is to end early.
    std::atomic<std::int32_t> next_unit;
    StopRequest stop_request;
    std::atomic<bool> stopping;
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

// Starts a call of any entry point, under call_lock: `stop` (which may be
// null) is its stop request, not yet answered.
void begin_call(StopRequest stop);

// Sets a call's parameters and runs filter_image, holding call_lock so that
// calls from several host threads take turns. Returns false when `stop`
// (which may be null) ended the call early; `result` is then incomplete.
bool filter_call(const double* values, const double* edges, int rows, int cols, double sigma_near,
                 double sigma_far, double* result, StopRequest stop);

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

// edge_level(edge_value) > EDGE_THRESHOLD as two comparisons, which the lane
// engine's pre-pass makes many at a time: truncation lifts a value above 100
// exactly when the value is at least 101, and it fits 32 bits below 2^31.
constexpr double LOWEST_EDGE_VALUE = EDGE_THRESHOLD + 1.0;
constexpr double EDGE_VALUE_LIMIT = 2147483648.0;

inline bool is_edge_value(double edge_value)
{
    return edge_value >= LOWEST_EDGE_VALUE && edge_value < EDGE_VALUE_LIMIT;
}

}  // namespace lumasift

#endif
