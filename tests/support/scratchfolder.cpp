#include "tests/support/scratchfolder.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace salvora::testing {

namespace {

std::filesystem::path scratchBase() {
    std::error_code error;
    std::filesystem::path memory = "/dev/shm";
    if (std::filesystem::is_directory(memory, error)) {
        auto probe = memory / ("salvora-probe-" + std::to_string(std::random_device{}()));
        if (std::filesystem::create_directory(probe, error)) {
            std::filesystem::remove(probe, error);
            return memory;
        }
    }
    return std::filesystem::temp_directory_path();
}

} // namespace

ScratchFolder::ScratchFolder() {
    static const std::filesystem::path base = scratchBase();
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("salvora-scratch-" + std::to_string(entropy()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchFolder::empty() const {
    for (auto &entry : std::filesystem::directory_iterator(path_))
        std::filesystem::remove_all(entry.path());
}

} // namespace salvora::testing
