// What the processor, and the system that saves its registers, support:
// asked of the processor itself, so that no run-time library is needed.
#ifndef LUMASIFT_LANES_PROCESSOR_H
#define LUMASIFT_LANES_PROCESSOR_H

#include "../hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

bool processor_has_avx2();
bool processor_has_avx512f();

}  // namespace lumasift

#endif
