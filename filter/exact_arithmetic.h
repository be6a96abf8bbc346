// Included first by every source of the filter core.
//
// Each product and each sum of the filter is rounded on its own. A fused
// multiply-add rounds once where the arithmetic rounds twice, so a compiler
// that contracts `sum + value * weight` changes results. The CMake build passes
// -ffp-contract=off; these pragmas keep a plain one-line mex or mkoctfile build
// exact on hardware with FMA as well.
#ifndef LUMASIFT_EXACT_ARITHMETIC_H
#define LUMASIFT_EXACT_ARITHMETIC_H

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#elif defined(_MSC_VER)
#pragma fp_contract(off)
#endif

#endif
