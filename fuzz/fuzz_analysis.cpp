// libFuzzer target: structure analysis of a fuzzed table, then the record checks on its first
// records.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzzrun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string failure = salvora::fuzz::runAnalysisInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_analysis: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
