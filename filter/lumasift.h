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
#include "constants.h"
#include "edges.h"
#include "hidden.h"
#include "image.h"
#include "defaults.h"
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

// And from tiles.h: images of any size, class and number of channels, tile
// by tile (tiles_fit, filter_tiled); from statistics.h: the noise, the
// texture and the defaults that follow them (measure_image,
// default_parameters, settle_parameters); from edges.h: the edge map made
// from an image (edge_map); from toolbox.h: imlumasift's and
// lumasift_edges's checks and runs, for every host.

// Whether this build and processor have the kernels of a choice.
bool has_kernels(KernelChoice choice);

}  // namespace lumasift

#endif
