#include "cpu.hpp"

#include <cstdlib>
#include <cstring>

namespace rawframes {

namespace {

constexpr Isa kAllIsas[] = {Isa::kPlain, Isa::kAvx2, Isa::kAvx512};

bool hardware_supports(Isa isa) {
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

struct IsaSetting {
    Isa cap = Isa::kAvx512;  // no cap
    std::string error;
};

const IsaSetting& isa_setting() {
    static const IsaSetting setting = [] {
        IsaSetting s;
        const char* value = std::getenv("RAWFRAMES_ISA");
        if (value == nullptr || *value == '\0') return s;
        for (const Isa isa : kAllIsas) {
            if (std::strcmp(value, isa_name(isa)) == 0) {
                s.cap = isa;
                return s;
            }
        }
        // An unknown value caps at the plain code until the program reports it.
        s.cap = Isa::kPlain;
        s.error = std::string("unknown instruction set '") + value +
                  "' in RAWFRAMES_ISA (plain, avx2 or avx512)";
        return s;
    }();
    return setting;
}

}  // namespace

bool cpu_supports(Isa isa) {
    return isa <= isa_setting().cap && hardware_supports(isa);
}

const char* isa_name(Isa isa) {
    switch (isa) {
        case Isa::kAvx2:
            return "avx2";
        case Isa::kAvx512:
            return "avx512";
        default:
            return "plain";
    }
}

std::string isa_setting_error() {
    return isa_setting().error;
}

}  // namespace rawframes
