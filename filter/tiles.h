// Images of any size, element class and number of channels, filtered tile
// by tile on the lane engine with exactly the bits of one call on the whole
// image, as if the planes were as large as the image.
//
// Why tiles give the whole image's bits: a tile is the pixels it keeps plus
// a margin of reach + 1 on every side that is not the image's border. Every
// sample a kept pixel visits lies within reach of it, so inside the tile;
// every mark it reads was written by a sample within reach, onto a point
// within reach. And no such sample lies on the tile's artificial border, one
// further out, where a diagonal sample would stop passing its shadow on. So
// each kept pixel visits the same samples with the same widths as in the
// whole image. Tiles never exceed the lane engine's longest line, so it takes
// them as they are.
#ifndef LUMASIFT_TILES_H
#define LUMASIFT_TILES_H

#include <cstddef>
#include <cstdint>

#include "call.h"
#include "colour.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// The class of the filtered image: that of the values, but double for
// logical values.
ElementClass result_class(ElementClass value_class);

// A rows x cols x channels image, its edge map and the result, each in a
// layout of its own. The edge map has one channel, shared by all, or as
// many as the image; without one (null edges), each tile makes the edge
// values of make_edges with `edge_threshold` from the image's own pixels
// around it, so no map as large as the image is ever made.
struct TiledImage {
    HostImage pixels;
    const void* edges;
    ElementClass edge_class;
    bool edges_per_channel;
    Layout edge_layout;
    void* result;  // of result_class(pixels.value_class)
    Layout result_layout;
    double edge_threshold;
    // The pixels filtered, where not null: the rest of the image is only
    // their context, as a block's neighbours are to a block of a larger
    // image, and the result holds the region alone, from its first pixel.
    const PixelRegion* kept = nullptr;
};

// Whether tiles can hold the window of sigma_near on a rows x cols image:
// always when the image fits one tile, and otherwise when the window and
// the margins on both sides of at least one kept pixel, 2 * (reach + 1) + 1,
// fit the longest tile; that is, when its reach is at most
// widest_tiled_reach().
bool tiles_fit(std::ptrdiff_t rows, std::ptrdiff_t cols, double sigma_near);
int widest_tiled_reach();

// Filters every channel, with x3 = sigma_near and x4 = sigma_far, as
// filter_call would on an image as large as this one. Expects tiles_fit.
// Values and results are converted as the host converts: to double exactly
// (int64 and uint64 to the nearest double), and back rounded half away from
// zero and saturated for integers, NaN to 0, and to the nearest single.
// Returns false when the stop request ended the call early.
bool filter_tiled(const TiledImage& image, double sigma_near, double sigma_far, const CallOptions& options = {});

// One channel's widths, and the threshold of the edges the tiles make for
// it where the edge map is left out.
struct ChannelWidths {
    double sigma_near;
    double sigma_far;
    double edge_threshold;
};

// Smooths a colour image (holds_colour) as colour: each channel of the
// opponent basis with widths[c], and without an edge map with edges of its
// own, made from that channel alone; an edge map given with a channel for
// each of the image's serves the opponent channels in turn. The results go
// back to the stored basis as they are written, and channel 3, alpha, is
// copied as it is. image.edge_threshold is not read. Expects tiles_fit for
// each sigma_near.
bool filter_colour_tiled(const TiledImage& image, const ChannelWidths (&widths)[COLOUR_CHANNELS],
                         const CallOptions& options = {});

}  // namespace lumasift

#endif
