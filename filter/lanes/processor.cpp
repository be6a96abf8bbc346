#include "../exact_arithmetic.h"

#include "processor.h"

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define LUMASIFT_X86_CPUID 1
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#define LUMASIFT_X86_CPUID 1
#endif

namespace lumasift LUMASIFT_HIDDEN {

#if defined(LUMASIFT_X86_CPUID)

namespace {

struct Registers {
    std::uint32_t eax, ebx, ecx, edx;
};

Registers cpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
    Registers r{0, 0, 0, 0};
#if defined(_MSC_VER) && !defined(__clang__)
    int values[4];
    __cpuidex(values, static_cast<int>(leaf), static_cast<int>(subleaf));
    r = {static_cast<std::uint32_t>(values[0]), static_cast<std::uint32_t>(values[1]),
         static_cast<std::uint32_t>(values[2]), static_cast<std::uint32_t>(values[3])};
#else
    if (__get_cpuid_max(0, nullptr) >= leaf) {
        __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    }
#endif
    return r;
}

// The register state the system saves on a switch (XCR0). Asked only when
// the processor reports OSXSAVE, without which the instruction faults.
std::uint64_t saved_state()
{
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    std::uint32_t low, high;
    // xgetbv, spelled as bytes so that no target option is needed.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<std::uint64_t>(high) << 32) | low;
#endif
}

constexpr std::uint32_t OSXSAVE = 1u << 27;   // leaf 1, ecx
constexpr std::uint32_t AVX = 1u << 28;       // leaf 1, ecx
constexpr std::uint32_t AVX2 = 1u << 5;       // leaf 7, ebx
constexpr std::uint32_t AVX512F = 1u << 16;   // leaf 7, ebx
constexpr std::uint64_t XMM_YMM_STATE = 0x6;  // SSE and AVX registers
constexpr std::uint64_t ZMM_STATE = 0xe0;     // opmask and both halves of the 512-bit registers

struct Features {
    bool avx2;
    bool avx512f;
};

Features ask_processor()
{
    const Registers basic = cpuid(1, 0);
    if ((basic.ecx & (OSXSAVE | AVX)) != (OSXSAVE | AVX)) {
        return {false, false};
    }
    const std::uint64_t state = saved_state();
    const Registers extended = cpuid(7, 0);
    const bool ymm = (state & XMM_YMM_STATE) == XMM_YMM_STATE;
    const bool zmm = ymm && (state & ZMM_STATE) == ZMM_STATE;
    return {ymm && (extended.ebx & AVX2) != 0, zmm && (extended.ebx & AVX512F) != 0};
}

const Features& features()
{
    static const Features asked = ask_processor();
    return asked;
}

}  // namespace

bool processor_has_avx2()
{
    return features().avx2;
}

bool processor_has_avx512f()
{
    return features().avx512f;
}

#else

bool processor_has_avx2()
{
    return false;
}

bool processor_has_avx512f()
{
    return false;
}

#endif

}  // namespace lumasift
