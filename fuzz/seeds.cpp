// Writes the damage corpus as fuzz inputs, one file per case, into the folder given: the seeds
// the fuzz targets start from.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/fuzzseeds.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    int written = 0;
    for (const salvora::testing::CorpusCase &c : salvora::testing::damageCorpus()) {
        salvora::fuzz::Bytes bytes = salvora::testing::fuzzInputOf(c);
        std::ofstream out(std::filesystem::path(argv[1]) / c.name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", c.name.c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d seeds\n", written);
    return 0;
}
