#include "exact_arithmetic.h"

#include "lanes.h"

RowFilter row_filter_for(KernelPath path)
{
    RowFilter chosen = nullptr;
    switch (path) {
    case KernelPath::literal: return nullptr;
    case KernelPath::scalar: return scalar_row_filter();
    case KernelPath::avx2: chosen = avx2_row_filter(); break;
    case KernelPath::avx512: chosen = avx512_row_filter(); break;
    case KernelPath::fastest: break;
    }
    for (RowFilter candidate : {chosen, avx512_row_filter(), avx2_row_filter()}) {
        if (candidate != nullptr) {
            return candidate;
        }
    }
    return scalar_row_filter();
}
