// The host's entry point, shared by every module: lumasift (gateway.cpp,
// behind y = lumasift(x1, x2, x3, x4)), imlumasift_mex and
// lumasift_edges_mex (behind imlumasift.m and lumasift_edges.m), and the
// benchmarks' round_trip. Each module defines it once.
#ifndef LUMASIFT_GATEWAY_H
#define LUMASIFT_GATEWAY_H

#include "mex.h"

// The host looks the entry point up by name, so it stays visible even in
// builds that hide symbols by default.
#if defined(_WIN32)
#define LUMASIFT_EXPORT __declspec(dllexport)
#else
#define LUMASIFT_EXPORT __attribute__((visibility("default")))
#endif

// Checks the arguments, reporting the first failure through mexErrMsgTxt
// (which does not return), then runs the core into new result arrays.
extern "C" LUMASIFT_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                            const mxArray* prhs[]);

#endif
