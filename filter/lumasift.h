// The core's public face: what the gateways, the Python binding, the tests
// and the benchmarks call. They choose kernels, threads and a stop request
// through CallOptions; nothing outside the core touches its working state.
// Calls may come from several threads and run at once, each in a workspace
// of its own; only filter_call, the definition's driver on its static
// planes, takes turns.
#ifndef LUMASIFT_LUMASIFT_H
#define LUMASIFT_LUMASIFT_H

#include <cstddef>

#include "call.h"
#include "certify.h"
#include "colour.h"
#include "constants.h"
#include "defaults.h"
#include "edges.h"
#include "hidden.h"
#include "image.h"
#include "parameters.h"
#include "records.h"
#include "statistics.h"
#include "tiles.h"
#include "toolbox.h"

namespace lumasift LUMASIFT_HIDDEN {

// lumasift(x1, x2, x3, x4): filters the rows x cols image `values` (x1) with
// the edge map `edges` (x2), both column-major, into `result`. Expects rows
// and cols of at most PLANE_STRIDE. False when the stop request ended the
// call early; `result` is then incomplete.
bool filter_call(const double* values, const double* edges, int rows, int cols, double sigma_near,
                 double sigma_far, double* result, const CallOptions& options = {});

// And what each header above names for callers:
// - toolbox.h: imlumasift and lumasift_edges, their tables and run step,
//   which every host's form follows;
// - tiles.h: images of any size, class and colour, tile by tile
//   (tiles_fit, filter_tiled, filter_colour_tiled);
// - statistics.h, defaults.h, parameters.h: the noise and texture, the
//   default rule, and a call's settled parameters;
// - records.h: the statistics gathered over parts of an image;
// - edges.h: the edge map made from an image (edge_map);
// - colour.h: the opponent basis; image.h, call.h: the images and options.

// Whether this build and processor have the kernels of a choice.
bool has_kernels(KernelChoice choice);

}  // namespace lumasift

#endif
