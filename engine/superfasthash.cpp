#include "engine/superfasthash.h"

#include <bit>
#include <cstring>

namespace salvora {

namespace {

std::uint32_t le16(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

// The tail bytes are mixed in as signed chars, as the original C does.
std::uint32_t signedByte(std::uint8_t b) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(b)));
}

// One 4-byte group mixed into the hash.
std::uint32_t mixGroup(std::uint32_t h, const std::uint8_t *data) {
    h += le16(data);
    std::uint32_t t = (le16(data + 2) << 11) ^ h;
    h = (h << 16) ^ t;
    return h + (h >> 11);
}

// The bytes after the last whole group, and the final avalanche.
std::uint32_t finishHash(std::uint32_t h, const std::uint8_t *data, std::int32_t length) {
    switch (length & 3) {
    case 3:
        h += le16(data);
        h ^= h << 16;
        h ^= signedByte(data[2]) << 18;
        h += h >> 11;
        break;
    case 2:
        h += le16(data);
        h ^= h << 11;
        h += h >> 17;
        break;
    case 1:
        h += signedByte(data[0]);
        h ^= h << 10;
        h += h >> 1;
        break;
    }
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h;
}

// Four hashes side by side, one key to a lane. A hash is a long chain of dependent steps
// of a few instructions each; across lanes, and with two sets of lanes in flight, the
// processor does the work of eight keys in the time of one.
typedef std::uint32_t Words __attribute__((vector_size(16)));

Words loadWords(const std::uint8_t *p) {
    Words words;
    std::memcpy(&words, p, sizeof words);
    return words;
}

// Four groups of each of four keys in, group g of all four keys in `lanes[g]` out.
void transpose(Words (&lanes)[4]) {
    Words low01 = __builtin_shufflevector(lanes[0], lanes[1], 0, 4, 1, 5);
    Words high01 = __builtin_shufflevector(lanes[0], lanes[1], 2, 6, 3, 7);
    Words low23 = __builtin_shufflevector(lanes[2], lanes[3], 0, 4, 1, 5);
    Words high23 = __builtin_shufflevector(lanes[2], lanes[3], 2, 6, 3, 7);
    lanes[0] = __builtin_shufflevector(low01, low23, 0, 1, 4, 5);
    lanes[1] = __builtin_shufflevector(low01, low23, 2, 3, 6, 7);
    lanes[2] = __builtin_shufflevector(high01, high23, 0, 1, 4, 5);
    lanes[3] = __builtin_shufflevector(high01, high23, 2, 3, 6, 7);
}

// `mixGroup` in every lane; a group read as a little-endian word holds both halves.
Words mixGroups(Words h, Words groups) {
    h += groups & 0xFFFF;
    Words t = ((groups >> 16) << 11) ^ h;
    h = (h << 16) ^ t;
    return h + (h >> 11);
}

constexpr std::size_t sets = 2;
constexpr std::size_t keysAtOnce = 4 * sets;

void hashEight(const std::uint8_t *first, std::size_t stride, std::int32_t length,
               std::uint32_t *hashes) {
    std::int32_t groups = length >> 2;
    Words h[sets];
    for (Words &lanes : h)
        lanes = Words{} + static_cast<std::uint32_t>(length);
    std::int32_t g = 0;
    for (; g + 4 <= groups; g += 4) {
        std::size_t at = static_cast<std::size_t>(g) * 4;
        Words lanes[sets][4];
        for (std::size_t set = 0; set < sets; ++set) {
            for (std::size_t key = 0; key < 4; ++key)
                lanes[set][key] = loadWords(first + (set * 4 + key) * stride + at);
            transpose(lanes[set]);
        }
        for (std::size_t step = 0; step < 4; ++step)
            for (std::size_t set = 0; set < sets; ++set)
                h[set] = mixGroups(h[set], lanes[set][step]);
    }
    for (; g < groups; ++g) {
        std::size_t at = static_cast<std::size_t>(g) * 4;
        for (std::size_t set = 0; set < sets; ++set) {
            std::uint32_t group[4];
            for (std::size_t key = 0; key < 4; ++key)
                std::memcpy(&group[key], first + (set * 4 + key) * stride + at, 4);
            h[set] = mixGroups(h[set], Words{group[0], group[1], group[2], group[3]});
        }
    }
    std::size_t tail = static_cast<std::size_t>(groups) * 4;
    for (std::size_t set = 0; set < sets; ++set)
        for (std::size_t key = 0; key < 4; ++key)
            hashes[set * 4 + key] =
                finishHash(h[set][key], first + (set * 4 + key) * stride + tail, length);
}

} // namespace

std::uint32_t superFastHash(const std::uint8_t *data, std::int32_t length) {
    if (data == nullptr || length <= 0)
        return 0;
    std::uint32_t h = static_cast<std::uint32_t>(length);
    for (std::int32_t groups = length >> 2; groups > 0; --groups, data += 4)
        h = mixGroup(h, data);
    return finishHash(h, data, length);
}

void superFastHashEach(const std::uint8_t *first, std::size_t stride, std::size_t length,
                       std::span<std::uint32_t> hashes) {
    auto keyLength = static_cast<std::int32_t>(length);
    std::size_t k = 0;
    // The lanes read groups as little-endian words.
    if (std::endian::native == std::endian::little && keyLength > 0) {
        for (; k + keysAtOnce <= hashes.size(); k += keysAtOnce)
            hashEight(first + k * stride, stride, keyLength, &hashes[k]);
    }
    for (; k < hashes.size(); ++k)
        hashes[k] = superFastHash(first + k * stride, keyLength);
}

} // namespace salvora
