#include "cpu.hpp"

namespace rawframes {

bool cpu_supports(Isa isa) {
    switch (isa) {
        case Isa::kPlain:
            return true;
#ifdef RAWFRAMES_X86_VARIANTS
        case Isa::kAvx2:
            return __builtin_cpu_supports("avx2");
        case Isa::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
#endif
        default:
            return false;
    }
}

}  // namespace rawframes
