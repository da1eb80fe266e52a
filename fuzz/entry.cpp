// libFuzzer's entry point for one target of the table, chosen at build time.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const zrn::fuzz::Target* const target = [] {
        const auto* found = zrn::fuzz::findTarget(ZRN_FUZZ_TARGET);
        if (found == nullptr) {
            std::fprintf(stderr, "no fuzz target named %s\n", ZRN_FUZZ_TARGET);
            std::abort();
        }
        return found;
    }();
    target->run(zrn::ByteView(data, size));
    return 0;
}
