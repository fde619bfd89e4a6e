// Function attributes for code that uses wider x86 instruction sets than the
// baseline the binaries are built for; such code runs only after cpu_supports()
// has confirmed the instructions. No attribute enables FMA, so no compiler can
// fuse a multiply and an add in these functions.
#pragma once

#include "cpu.hpp"

#ifdef RAWFRAMES_X86_VARIANTS
#include <immintrin.h>

#define RF_AVX2 __attribute__((target("avx2")))
// Vector values pass between the generic lane functions only inside the
// function they are inlined into: GCC 12 can pass a vector wrapped in a
// struct to an out-of-line copy in the registers of another instruction set,
// losing lanes.
#define RF_ALWAYS_INLINE __attribute__((always_inline))
#define RF_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq")))

// GCC 12's AVX-512 headers initialise "undefined" vectors from themselves,
// which its own -Wmaybe-uninitialized and -Wuninitialized then report inside
// every caller. The vector code of each file stands between these two, which
// silence those warnings there only.
#if defined(__GNUC__) && !defined(__clang__)
#define RF_VECTOR_CODE_BEGIN                                                                   \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#define RF_VECTOR_CODE_END _Pragma("GCC diagnostic pop")
#else
#define RF_VECTOR_CODE_BEGIN
#define RF_VECTOR_CODE_END
#endif
#endif
