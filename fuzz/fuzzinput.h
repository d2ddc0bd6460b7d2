// How a fuzz input is cut into a run: a control byte (options, in-place, memo), then, with a
// memo, its 16-bit length and bytes, and the table in the rest.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace salvora::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t controlPack = 0x01;
inline constexpr std::uint8_t controlRecoverDeleted = 0x02;
inline constexpr std::uint8_t controlDeleteEmpty = 0x04;
inline constexpr std::uint8_t controlDeleteDuplicates = 0x08;
inline constexpr std::uint8_t controlDeleteInvalidMemo = 0x10;
inline constexpr std::uint8_t controlInPlace = 0x20;
inline constexpr std::uint8_t controlWithMemo = 0x40;
// A window whose "keep deleted" box is cleared.
inline constexpr std::uint8_t controlDropDeleted = 0x80;

struct FuzzCase {
    std::uint8_t control = 0;
    Bytes table;
    std::optional<Bytes> memo;
};

inline FuzzCase decodeFuzzInput(const std::uint8_t *data, std::size_t size) {
    FuzzCase input;
    if (size == 0)
        return input;
    input.control = data[0];
    std::size_t at = 1;
    if (input.control & controlWithMemo) {
        std::size_t length = 0;
        if (size >= 3) {
            length = static_cast<std::size_t>(data[1] | (data[2] << 8));
            at = 3;
        } else {
            at = size;
        }
        length = std::min(length, size - at);
        input.memo = Bytes(data + at, data + at + length);
        at += length;
    }
    input.table.assign(data + at, data + size);
    return input;
}

// Memos longer than 65535 bytes are cut there.
inline Bytes encodeFuzzInput(const FuzzCase &input) {
    Bytes out{static_cast<std::uint8_t>(input.memo ? input.control | controlWithMemo
                                                   : input.control & ~controlWithMemo)};
    if (input.memo) {
        std::size_t length = std::min<std::size_t>(input.memo->size(), 0xFFFF);
        out.push_back(static_cast<std::uint8_t>(length));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.insert(out.end(), input.memo->begin(), input.memo->begin() + static_cast<long>(length));
    }
    out.insert(out.end(), input.table.begin(), input.table.end());
    return out;
}

} // namespace salvora::fuzz
