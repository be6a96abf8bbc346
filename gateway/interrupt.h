// Whether the user has pressed Ctrl-C in the host. Neither host publishes
// this in its MEX API, so the flag is looked up at run time by name: one
// source then builds with a plain mex, mkoctfile --mex or mkoctfile, and
// loads in both hosts.
#ifndef LUMASIFT_GATEWAY_INTERRUPT_H
#define LUMASIFT_GATEWAY_INTERRUPT_H

#include "../filter/hidden.h"
#include "../filter/lumasift.h"

namespace lumasift LUMASIFT_HIDDEN {

// True while an interrupt waits for the host to handle it: Octave's
// octave_interrupt_state, or MATLAB's utIsInterruptPending() from libut.
// False where neither is found. Ask it on the host's own thread only.
bool host_interrupt_pending();

// A call from the host: the fastest kernels, every core the work justifies,
// and Ctrl-C as the stop request.
inline CallOptions host_call_options()
{
    return {KernelChoice::fastest, 0, &host_interrupt_pending};
}

}  // namespace lumasift

#endif
