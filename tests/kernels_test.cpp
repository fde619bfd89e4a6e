// Every vector variant of every kernel against its plain version, through the
// kernel harness: random inputs of many lengths (vector bodies and tails,
// short rows), every buffer misaligned in several ways with guard bytes after
// it.
#include <gtest/gtest.h>

#include "kernel_harness.hpp"

using namespace kernel_harness;

TEST(Kernels, EveryVariantMatchesThePlainOneMisalignedAndWithinItsBuffers) {
    const std::size_t offsets[] = {0, 2, 4, 6, 10, 30};
    for (const Kernel& k : kernels()) {
        for (const auto& v : k.variants)
            if (!rawframes::cpu_supports(v.isa))
                std::printf("%s/%s: not supported here, not checked\n", k.name.c_str(),
                            v.name.c_str());
        Source source(static_cast<std::uint32_t>(k.name.size() * 7919));
        for (int round = 0; round < 2000; ++round) {
            // Half the rounds are short rows, half long ones.
            const std::size_t n = 1 + source.below(round % 2 ? 2000 : 80);
            const std::size_t offset = offsets[round % std::size(offsets)];
            const auto inputs = k.make_inputs(source, n);
            const std::string problem = check(k, inputs, n, offset);
            ASSERT_EQ(problem, "") << "round " << round;
        }
    }
}

TEST(Kernels, TheHarnessCatchesAnOverrunAndADifference) {
    // A variant that writes one byte past its buffer, or one wrong byte, is
    // reported.
    Kernel k = kernels().front();
    const auto plain_call = k.call;
    Source source(3);
    const auto inputs = k.make_inputs(source, 17);
    for (const bool overrun : {true, false}) {
        k.variants = {{"plain", rawframes::Isa::kPlain}, {"faulty", rawframes::Isa::kPlain}};
        k.call = [&](std::size_t v, std::vector<Guarded>& args, std::size_t n) {
            plain_call(0, args, n);
            if (v == 1 && overrun) args[0].as<std::uint8_t>()[2 * n] = 0;
            if (v == 1 && !overrun) args[0].as<std::uint8_t>()[0] ^= 1;
        };
        EXPECT_NE(
            check(k, inputs, 17, 2)
                .find(overrun ? "faulty wrote past a buffer" : "faulty differs from the plain"),
            std::string::npos);
    }
}
