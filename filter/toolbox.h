// The toolbox's calls, imlumasift and lumasift_edges, each declared once:
// a table of its arguments (what each may be, its default, the fault a bad
// one raises) and one run step that every host follows. The MEX and Octave
// gateways and the Python binding are forms over the table: they find each
// argument in their host's way, read the host's arrays into HostImages, make
// the result arrays, and report faults as their host reports them.
#ifndef LUMASIFT_TOOLBOX_H
#define LUMASIFT_TOOLBOX_H

#include <cstddef>

#include "call.h"
#include "colour.h"
#include "hidden.h"
#include "image.h"
#include "parameters.h"

namespace lumasift LUMASIFT_HIDDEN {

enum class ArgumentFault {
    none,
    arguments,        // the wrong number of arguments or results
    image,            // I is not an image of a class the core takes
    edges,            // E is neither left out nor an array the size of I or of one channel of it
    widths,           // x3 or x4 is neither left out nor real numbers, one or one for each set of channels
    threshold,        // the threshold is neither left out nor positive real numbers, one or one per set
    edges_and_threshold,  // both given: the threshold makes the edges that E would replace
    choice,           // a name-value pair that names no argument, or a flag or thread count that is not one
    window_too_wide,  // x3 gives a window wider than the tiles of an image this large
};

// What an argument may be.
enum class ArgumentKind {
    image,         // a real, full numeric or logical array of at most three dimensions
    edges,         // an image: the size of I, one channel, one for each channel or each opponent channel
    widths,        // real numbers: one, or one for each set of channels
    thresholds,    // positive real numbers: one, or one for each set of channels
    flag,          // a logical or real scalar: true or false
    thread_count,  // a non-negative integer scalar; 0 for as many threads as the work justifies
};

// What the run step takes an argument for.
enum ArgumentRole { IMAGE, EDGES, X3, X4, THRESHOLD, COLOUR, THREADS, ROLES };

struct DeclaredArgument {
    ArgumentRole role;
    // How the call names it: the positional arguments as the help does (I,
    // E, x3), the others by the name of their name-value pair (Threshold),
    // which Octave and MATLAB match whatever its case, alias too.
    const char* name;
    const char* alias;
    const char* keyword;  // Python's
    ArgumentKind kind;
    bool positional;
    bool required;
    // What it is, and what leaving it out gives: one line each, for the
    // signatures and the help.
    const char* purpose;
    const char* left_out;
};

struct Operation {
    const char* name;
    const DeclaredArgument* arguments;  // the positional ones first, in order
    int count;
    const char* results;  // as the call form names them
    int info_fields;
};

extern const Operation IMLUMASIFT_CALL;
extern const Operation LUMASIFT_EDGES_CALL;
extern const Operation* const OPERATIONS[2];

constexpr int MAX_INFO_FIELDS = 9;

// One argument of a call as its host read it.
struct Argument {
    bool given = false;  // there, and not left out ([] or None)
    bool read = true;    // given as the kind of value it must be
    bool shaped = true;  // an array of two or three dimensions, where the host allows others
    HostImage image{};   // an image or edges
    // Numbers: the first of them, as doubles, and how many there are.
    double values[COLOUR_CHANNELS] = {};
    std::ptrdiff_t count = 0;

    GivenValues given_values() const { return given ? GivenValues{values, count} : GivenValues{}; }
};

struct CallArguments {
    Argument role[ROLES];
};

// Where a host finds each of an operation's arguments among the `count`
// values it was given: positional ones first, then name-value pairs, whose
// names `name_at(k)` gives (null where value k is no text). Argument k of
// the table is value found[k], or -1 where it is not there.
template <class NameAt>
ArgumentFault find_arguments(const Operation& operation, int count, const NameAt& name_at, int (&found)[ROLES]);

// Takes numbers from an array of any numeric class the host read as an
// image (logical too, where `kind` is a flag): the first COLOUR_CHANNELS of
// them, in the order of its elements, and how many it holds.
void take_numbers(ArgumentKind kind, const HostImage& array, Argument& argument);

// The first fault of a call's arguments, and the argument it lies in.
struct CallFault {
    ArgumentFault fault;
    const DeclaredArgument* argument;
};
CallFault check_call(const Operation& operation, const CallArguments& arguments);

// Finds, reads and checks a host's call: `count` values, of which value k
// is the text name_at(k) (null where it is none), left out where
// left_out(k) ([]), and read in place as an image by read_image(k, role,
// image), false where it is none; numbers are taken from that image.
template <class NameAt, class LeftOut, class ReadImage>
CallFault read_call(const Operation& operation, int count, const NameAt& name_at, const LeftOut& left_out,
                    const ReadImage& read_image, CallArguments& arguments);

// "[J, info] = imlumasift_mex(...), with the arguments of imlumasift": the
// call form a module's arguments fault names.
struct CallForm {
    char text[160];
};
CallForm module_call_form(const Operation& operation);

// A fault as the host reports it: an identifier (lumasift:edges), one line
// that names the image's size where that helps, and whether the argument
// was of a type the call does not take (Python's TypeError) rather than of
// the wrong size or value.
struct FaultReport {
    const char* identifier;
    char message[400];
    bool wrong_type;
};
// Python names the arguments by their keywords, Octave and MATLAB named
// ones by their name-value names.
FaultReport fault_report(const Operation& operation, const CallFault& fault, const CallArguments& arguments,
                         const char* host_form, bool keywords = false);

// The host's options with the call's thread count.
CallOptions call_options(const CallArguments& arguments, CallOptions host_options);

// The values the caller left out, filled in; the image is measured only
// where a default needs it or `report` asks for the statistics.
bool settle_call(const Operation& operation, const CallArguments& arguments, bool report, CallParameters& parameters,
                 const CallOptions& options);

// The result the host makes for the call: rows x cols x channels of `type`,
// of I's shape where `like_image`, and otherwise of two dimensions where
// it has one channel.
struct ResultShape {
    ElementClass type;
    std::ptrdiff_t rows;
    std::ptrdiff_t cols;
    std::ptrdiff_t channels;
    bool like_image;
};
ResultShape result_shape(const Operation& operation, const CallArguments& arguments,
                         const CallParameters& parameters);

// Fills the result, laid out as `layout`. With `kept`, imlumasift's result
// of those pixels alone, the rest of the image their context.
bool run_call(const Operation& operation, const CallArguments& arguments, const CallParameters& parameters,
              void* result, const Layout& layout, const CallOptions& options, const PixelRegion* kept = nullptr);

// What each call reports of its parameters, field by field: a rows-by-cols
// matrix, column-major, of a value for each set of channels, or the basis
// they were smoothed in; 0-by-0 for what the call did not use (no
// threshold where E was given, no basis for channels kept apart).
struct InfoField {
    const char* name;
    int rows;
    int cols;
    double values[COLOUR_CHANNELS * COLOUR_CHANNELS];
};
// Fills operation.info_fields fields.
void call_info(const Operation& operation, const CallParameters& parameters, InfoField (&fields)[MAX_INFO_FIELDS]);

// The pixels of context a block of a larger image needs on each side for
// imlumasift's result with these widths to be the whole image's: the
// widest window's reach and one more, and where the block makes its own
// edges, the edges' context.
std::ptrdiff_t block_halo(const GivenValues& x3, bool makes_edges);

// imlumasift's step on a block of a larger image, whose parameters the
// whole image settled: a threshold of 0 makes no edges.
bool smooth_block(const HostImage& image, const HostImage* edges, const CallParameters& parameters, void* result,
                  const Layout& layout, const CallOptions& options, const PixelRegion* kept);

// --- find_arguments, inline: the hosts' forms instantiate it.

bool names_argument(const char* text, const DeclaredArgument& argument);

template <class NameAt>
ArgumentFault find_arguments(const Operation& operation, int count, const NameAt& name_at, int (&found)[ROLES])
{
    for (int& k : found) {
        k = -1;
    }
    // The required arguments come first, whatever they hold; the others
    // until the first text, which names the first pair.
    int given = 0;
    for (int a = 0; a < operation.count; ++a) {
        given += operation.arguments[a].required && given < count ? 1 : 0;
    }
    while (given < count && name_at(given) == nullptr) {
        ++given;
    }
    int positional = 0;
    for (int a = 0; a < operation.count; ++a) {
        const DeclaredArgument& argument = operation.arguments[a];
        if (argument.positional && positional < given) {
            found[argument.role] = positional++;
        } else if (argument.required) {
            return ArgumentFault::arguments;
        }
    }
    if (positional < given) {
        return ArgumentFault::arguments;
    }
    for (int k = given; k < count; k += 2) {
        const char* name = name_at(k);
        int named = -1;
        for (int a = 0; a < operation.count && name != nullptr; ++a) {
            if (!operation.arguments[a].positional && names_argument(name, operation.arguments[a])) {
                named = a;
            }
        }
        if (named < 0 || k + 1 >= count) {
            return ArgumentFault::choice;
        }
        found[operation.arguments[named].role] = k + 1;
    }
    return ArgumentFault::none;
}

template <class NameAt, class LeftOut, class ReadImage>
CallFault read_call(const Operation& operation, int count, const NameAt& name_at, const LeftOut& left_out,
                    const ReadImage& read_image, CallArguments& arguments)
{
    int found[ROLES];
    const ArgumentFault located = find_arguments(operation, count, name_at, found);
    if (located != ArgumentFault::none) {
        return {located, nullptr};
    }
    for (int a = 0; a < operation.count; ++a) {
        const DeclaredArgument& declared = operation.arguments[a];
        Argument& argument = arguments.role[declared.role];
        const int at = found[declared.role];
        // An image is given even when empty; other arguments are left out.
        argument.given = at >= 0 && (declared.required || !left_out(at));
        if (!argument.given) {
            continue;
        }
        argument.read = read_image(at, declared.role, argument.image);
        if (declared.kind != ArgumentKind::image && declared.kind != ArgumentKind::edges && argument.read) {
            take_numbers(declared.kind, argument.image, argument);
        }
    }
    return check_call(operation, arguments);
}

}  // namespace lumasift

#endif
