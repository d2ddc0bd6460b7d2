// Memo files with bytes inserted or lost: every block behind the damage begins at a shifted
// offset, so the references of the table lead into the wrong bytes. The shift is found near
// the first reference that leads nowhere, carried to the next ones and verified at each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace salvora {

enum class MemoLayout {
    FoxPro, // type and length, big-endian, before the data
    DBase4, // FF FF 08 00 and the length, header included
    Text,   // text ended by 0x1A
};

using MemoRead = std::function<bool(std::uint64_t, std::uint8_t *, std::size_t)>;

struct MemoGeometry {
    MemoLayout layout = MemoLayout::Text;
    std::uint64_t fileSize = 0;
    std::uint64_t blockSize = 512;
    // Blocks the records refer to, ascending (may be empty); asked for only when a memo is
    // sought away from its block.
    std::function<const std::vector<std::uint32_t> &()> references;
};

struct MemoLocation {
    enum class Kind {
        Found,     // a memo begins at `offset`
        AsWritten, // nothing suggests a shift: the block is read as the reference says
        Lost,      // behind a shift, and not found again beyond doubt
    };
    Kind kind = Kind::AsWritten;
    std::uint64_t offset = 0;
};

class MemoShifts {
  public:
    MemoLocation locate(const MemoGeometry &geometry, const MemoRead &read, std::uint32_t block);

  private:
    std::int64_t shiftBelow(std::uint32_t block) const;
    std::int64_t shiftAbove(std::uint32_t block) const;
    void remember(std::uint32_t block, std::int64_t shift);
    std::int64_t search(const MemoGeometry &geometry, const MemoRead &read, std::uint32_t block,
                        std::int64_t around, bool &found);

    // Block -> shift from there on; an entry only where the shift changes.
    std::map<std::uint32_t, std::int64_t> changes_;
    bool haveLast_ = false;
    std::uint32_t lastBlock_ = 0;
    std::uint64_t lastStart_ = 0;
    // A memo was found away from its block but could not be told from others': blocks that
    // lead nowhere are no longer read as written.
    bool ambiguous_ = false;
    std::uint32_t searchesFailed_ = 0;
    std::uint32_t searchesFound_ = 0;
};

} // namespace salvora
