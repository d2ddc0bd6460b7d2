// libFuzzer target: a whole recovery run on a fuzzed table, with a memo file carved from the
// input when its control byte asks for one.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzzrun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string failure = salvora::fuzz::runRecoveryInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_recovery: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
