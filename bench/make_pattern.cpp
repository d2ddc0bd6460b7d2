// Writes MIB MiB in which no table header can be found, in one of the patterns that make a
// header search work hardest:
//   salvora_make_pattern PATH MIB PATTERN, one of:
//   ff05         0x05 bytes throughout
//   plus         64 zero bytes, then '+' bytes
//   cdn          a third each of 'C', 'D' and 'N' bytes
//   descriptors  one 32-byte block that reads as a field descriptor, repeated
//   random       random bytes (a fixed seed)
//   plusruns     runs of 4,000 '+' bytes, each ended by one 'x'
//   druns        runs of 17,000 'D' bytes, each ended by one 'x'
//   plusdigits   '+' and '0' bytes at random: every other offset walks a few descriptors
//   letters      'C', 'D', 'N' and '+' bytes at random: most offsets walk hundreds of blocks
//   text         capitals, digits and blanks at random, as in character fields: offsets walk a
//                block or two
// The runs are shorter than what a header made of their byte reaches, so that no offset lies
// deep enough inside a run to be settled with the run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: %s PATH MIB "
                     "ff05|plus|cdn|descriptors|random|plusruns|druns|plusdigits|letters|text\n",
                     argv[0]);
        return 2;
    }
    std::uint64_t total = std::strtoull(argv[2], nullptr, 10) << 20;
    std::string pattern = argv[3];
    std::FILE *file = std::fopen(argv[1], "wb");
    if (!file || total == 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> chunk(1u << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint8_t descriptor[32] = {'N', 'A', 'M', 'E', 0, 0, 0, 0, 0, 0, 0, 'C', 0, 0, 0, 0, 10};
    if (pattern == "plus") {
        std::uint8_t zeros[64] = {};
        std::fwrite(zeros, 1, sizeof zeros, file);
    }
    for (std::uint64_t at = 0; at < total; at += chunk.size()) {
        if (pattern == "ff05") {
            std::memset(chunk.data(), 0x05, chunk.size());
        } else if (pattern == "plus") {
            std::memset(chunk.data(), '+', chunk.size());
        } else if (pattern == "cdn") {
            std::memset(chunk.data(), "CDN"[at * 3 / total], chunk.size());
        } else if (pattern == "descriptors") {
            for (std::size_t i = 0; i < chunk.size(); i += 32)
                std::memcpy(chunk.data() + i, descriptor, 32);
        } else if (pattern == "plusruns" || pattern == "druns") {
            const std::uint64_t run = pattern == "plusruns" ? 4000 : 17000;
            for (std::size_t i = 0; i < chunk.size(); ++i)
                chunk[i] = (at + i) % (run + 1) == run ? 'x' : pattern == "plusruns" ? '+' : 'D';
        } else if (pattern == "plusdigits" || pattern == "letters" || pattern == "text") {
            const char *alphabet = pattern == "letters" ? "CDN+"
                                   : pattern == "text"  ? "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789    "
                                                        : "+0";
            const std::size_t size = std::strlen(alphabet);
            for (std::uint8_t &byte : chunk) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = static_cast<std::uint8_t>(alphabet[(state >> 32) % size]);
            }
        } else if (pattern == "random") {
            for (std::uint8_t &byte : chunk) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = static_cast<std::uint8_t>(state >> 32);
            }
        } else {
            std::fprintf(stderr, "unknown pattern '%s'\n", pattern.c_str());
            return 2;
        }
        std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), total - at));
        if (std::fwrite(chunk.data(), 1, length, file) != length) {
            std::perror("write");
            return 1;
        }
    }
    return std::fclose(file) == 0 ? 0 : 1;
}
