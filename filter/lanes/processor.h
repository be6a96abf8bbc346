// What the processor, and the system that saves its registers, support:
// asked of the processor itself, so that no run-time library is needed.
#ifndef LUMASIFT_LANES_PROCESSOR_H
#define LUMASIFT_LANES_PROCESSOR_H

#include "../hidden.h"

// Whether the x86 vector lanes are compiled: by GCC or Clang on x86, each
// function for its own instruction set, so that no build flag is needed.
// MinGW's GCC keeps the stack aligned to 16 bytes only, yet spills 32- and
// 64-byte vectors with aligned moves (GCC bug 54412), which fault: there the
// plain lanes serve, unless the build makes the assembler turn every vector
// move into an unaligned one (-Wa,-muse-unaligned-vector-move) and says so
// by defining LUMASIFT_UNALIGNED_VECTOR_MOVES.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && \
    !(defined(_WIN32) && !defined(__clang__) && !defined(LUMASIFT_UNALIGNED_VECTOR_MOVES))
#define LUMASIFT_X86_LANES 1
#endif

namespace lumasift LUMASIFT_HIDDEN {

bool processor_has_avx2();
bool processor_has_avx512f();

}  // namespace lumasift

#endif
