// Run-time choice of instruction sets. Every kernel has a plain version that is
// its definition and runs everywhere; faster versions are used only where the
// processor has the instructions they need, and each is checked by the tests
// to give exactly the plain version's results.
#pragma once

#include <span>
#include <string>
#include <vector>

// Whether this build carries x86 vector variants of the kernels.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RAWFRAMES_X86_VARIANTS 1
#endif

namespace rawframes {

enum class Isa { kPlain, kAvx2, kAvx512 };

// Whether code for `isa` may run: this processor has the instructions, and the
// RAWFRAMES_ISA environment variable (plain, avx2 or avx512), when set, does
// not cap the process below `isa`. The cap lets users sidestep a faulty
// variant and lets the tests run whole programs on each path.
bool cpu_supports(Isa isa);

const char* isa_name(Isa isa);

// Why RAWFRAMES_ISA cannot be used, or an empty string when it is unset or
// names a known instruction set.
std::string isa_setting_error();

// A named version of a kernel function, for dispatch and for tests.
template <class Fn>
struct KernelVariant {
    const char* name;
    Isa isa;
    Fn fn;
};

// A kernel's whole list of variants: its plain version, then the others.
template <class Fn>
std::vector<KernelVariant<Fn>> with_plain_variant(KernelVariant<Fn> plain,
                                                  std::span<const KernelVariant<Fn>> others) {
    std::vector<KernelVariant<Fn>> all{plain};
    all.insert(all.end(), others.begin(), others.end());
    return all;
}

// The instruction set of the variant best_variant() chooses.
template <class Fn>
Isa best_isa(std::span<const KernelVariant<Fn>> variants) {
    Isa chosen = Isa::kPlain;
    for (const auto& v : variants)
        if (cpu_supports(v.isa)) chosen = v.isa;
    return chosen;
}

// The last entry of `variants` that this processor supports. Variants are
// listed from the plain one (always supported) to the widest.
template <class Fn>
Fn best_variant(std::span<const KernelVariant<Fn>> variants) {
    Fn chosen = variants.front().fn;
    for (const auto& v : variants)
        if (cpu_supports(v.isa)) chosen = v.fn;
    return chosen;
}

}  // namespace rawframes
