#include "engine/memoshift.h"

#include <algorithm>
#include <cstdlib>

#include "engine/memofile.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

constexpr std::uint64_t headerBytes = 512;
constexpr std::uint8_t endMark = 0x1A;
// Out-of-order references may add change points; past this many none are added.
constexpr std::size_t maxChanges = 4096;
// A sound file can have references no shift explains (pictures, empty memos, stray padding):
// searching stops when far more of them failed than found anything.
constexpr std::uint32_t searchAllowance = 256;

// One past the plausible memo that begins at `offset`, 0 when none begins there. Strict on
// purpose: a text block, a dBASE IV marker, or text right behind padding or a terminator.
std::uint64_t memoEndAt(const MemoGeometry &g, const MemoRead &read, std::int64_t offset) {
    if (offset < static_cast<std::int64_t>(headerBytes))
        return 0;
    auto o = static_cast<std::uint64_t>(offset);
    if (o >= g.fileSize)
        return 0;
    std::uint8_t head[8] = {};
    switch (g.layout) {
    case MemoLayout::FoxPro: {
        if (g.fileSize - o < 8 || !read(o, head, 8))
            return 0;
        std::uint32_t length = readBe32(head + 4);
        if (readBe32(head) != 1 || length == 0 || length > g.fileSize - o - 8)
            return 0;
        return o + 8 + length;
    }
    case MemoLayout::DBase4: {
        if (g.fileSize - o < 8 || !read(o, head, 8))
            return 0;
        std::uint32_t length = readLe32(head + 4);
        if (readLe32(head) != 0x0008FFFF || length < 8 || length > g.fileSize - o)
            return 0;
        return o + length;
    }
    case MemoLayout::Text: {
        bool first = o == headerBytes;
        if (!read(first ? o : o - 1, first ? head + 1 : head, first ? 1 : 2))
            return 0;
        bool behindBoundary = first || head[0] == 0 || head[0] == endMark;
        if (!behindBoundary || head[1] == 0 || head[1] == endMark)
            return 0;
        return o + 1;
    }
    }
    return 0;
}

// The neighbouring reference (the next one, else the one before) leads to a memo under the
// same shift; true when there is no other reference to ask.
bool neighbourAgrees(const MemoGeometry &g, const MemoRead &read, std::uint32_t block,
                     std::int64_t shift) {
    static const std::vector<std::uint32_t> none;
    const std::vector<std::uint32_t> &blocks = g.references ? g.references() : none;
    auto above = std::upper_bound(blocks.begin(), blocks.end(), block);
    std::uint32_t neighbour = 0;
    if (above != blocks.end()) {
        neighbour = *above;
    } else {
        auto at = std::lower_bound(blocks.begin(), blocks.end(), block);
        if (at == blocks.begin())
            return blocks.empty() ? g.layout != MemoLayout::Text : true;
        neighbour = *std::prev(at);
    }
    auto offset =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(neighbour) * g.blockSize) + shift;
    return memoEndAt(g, read, offset) != 0;
}

// A memo found `shift` bytes away from `block` that lies closer to the block of another
// reference is that reference's memo as far as the file can tell (short memos in a row).
bool claimedByCloserReference(const MemoGeometry &g, std::uint32_t block, std::int64_t shift) {
    if (!g.references)
        return false;
    const std::vector<std::uint32_t> &blocks = g.references();
    auto size = static_cast<std::int64_t>(g.blockSize);
    std::int64_t step = shift > 0 ? 1 : -1;
    for (std::int64_t m = step; std::abs(shift - m * size) < std::abs(shift); m += step) {
        std::int64_t other = static_cast<std::int64_t>(block) + m;
        if (other > 0 && other <= static_cast<std::int64_t>(UINT32_MAX) &&
            std::binary_search(blocks.begin(), blocks.end(), static_cast<std::uint32_t>(other)))
            return true;
    }
    return false;
}

// A memo found away from its reference counts only when the file around it agrees: the next
// block of a FoxPro chain is a block too, and the neighbouring reference leads to a memo under
// the same shift.
bool confirmed(const MemoGeometry &g, const MemoRead &read, std::uint32_t block, std::int64_t shift,
               std::uint64_t start, std::uint64_t end) {
    if (g.layout == MemoLayout::FoxPro) {
        std::uint64_t next = start + (end - start + g.blockSize - 1) / g.blockSize * g.blockSize;
        if (next < g.fileSize) {
            std::uint8_t head[8] = {};
            if (g.fileSize - next < 8 || !read(next, head, 8))
                return false;
            if (readBe32(head) > 2 || readBe32(head + 4) > g.fileSize - next - 8)
                return false;
        }
    }
    return neighbourAgrees(g, read, block, shift);
}

} // namespace

std::int64_t MemoShifts::shiftBelow(std::uint32_t block) const {
    auto above = changes_.upper_bound(block);
    return above == changes_.begin() ? 0 : std::prev(above)->second;
}

std::int64_t MemoShifts::shiftAbove(std::uint32_t block) const {
    auto above = changes_.upper_bound(block);
    return above == changes_.end() ? shiftBelow(block) : above->second;
}

void MemoShifts::remember(std::uint32_t block, std::int64_t shift) {
    auto at = changes_.find(block);
    if (at != changes_.end()) {
        at->second = shift;
        return;
    }
    if (shiftBelow(block) != shift && changes_.size() < maxChanges)
        changes_[block] = shift;
}

std::int64_t MemoShifts::search(const MemoGeometry &g, const MemoRead &read, std::uint32_t block,
                                std::int64_t around, bool &found) {
    found = false;
    auto size = static_cast<std::int64_t>(g.blockSize);
    std::int64_t reach = std::max<std::int64_t>(4 * size, 1024);
    auto base = static_cast<std::int64_t>(static_cast<std::uint64_t>(block) * g.blockSize);
    std::int64_t center = base + around;
    // Offsets on the grid already tried are other memos' starts, never this one's.
    auto fits = [&](std::int64_t o) {
        if ((o - center) % size == 0)
            return false;
        std::uint64_t end = memoEndAt(g, read, o);
        return end != 0 && confirmed(g, read, block, o - base, static_cast<std::uint64_t>(o), end);
    };
    // Only offsets inside the file can hold a memo: a block far past a small file, or a large
    // block size, would otherwise cost every search its whole reach.
    const auto low = static_cast<std::int64_t>(headerBytes);
    const auto high = static_cast<std::int64_t>(g.fileSize) - 1;
    auto inFile = [&](std::int64_t o) { return o >= low && o <= high; };
    std::int64_t nearest = -1;
    bool candidate = false;
    const std::int64_t closest = std::max({std::int64_t{1}, center - high, low - center});
    const std::int64_t farthest = std::min(reach, std::max(high - center, center - low));
    for (std::int64_t d = closest; d <= farthest && nearest < 0; ++d) {
        if (inFile(center + d) && fits(center + d))
            nearest = center + d;
        else if (inFile(center - d) && fits(center - d))
            nearest = center - d;
    }
    candidate = nearest >= 0;
    if (nearest >= 0 && haveLast_ && block > lastBlock_) {
        // References mostly ascend: the memo sought is then the first one behind the last one
        // found. When that and the nearest differ (memos shorter than the shift, or memos no
        // record refers to), the file cannot tell which one is meant.
        std::int64_t from =
            std::max({center - reach, static_cast<std::int64_t>(lastStart_) + 1, low});
        std::int64_t first = -1;
        for (std::int64_t o = from; o <= std::min(center + reach, high) && first < 0; ++o)
            if (fits(o))
                first = o;
        if (first != nearest)
            nearest = -1;
    }
    if (nearest >= 0 && claimedByCloserReference(g, block, nearest - base))
        nearest = -1;
    if (nearest >= 0 && g.references) {
        // Short memos in a row make several shifts fit: the memo found may be another
        // reference's just as well. The shift that leads more of the references around to a
        // memo wins; on a tie the file cannot tell. References up to the last memo found are
        // accounted for.
        const std::vector<std::uint32_t> &blocks = g.references();
        std::int64_t span = reach / size + 1;
        auto from =
            std::lower_bound(blocks.begin(), blocks.end(),
                             static_cast<std::uint32_t>(std::max<std::int64_t>(block - span, 1)));
        auto explained = [&](std::int64_t shift) {
            int count = 0;
            for (auto r = from; r != blocks.end() && *r <= block + span; ++r)
                if (memoEndAt(
                        g, read,
                        static_cast<std::int64_t>(static_cast<std::uint64_t>(*r) * g.blockSize) +
                            shift) != 0)
                    ++count;
            return count;
        };
        // The last reference leads to a memo too (one shift to the end of the file).
        auto lastAgrees = [&](std::int64_t shift) {
            return memoEndAt(g, read,
                             static_cast<std::int64_t>(static_cast<std::uint64_t>(blocks.back()) *
                                                       g.blockSize) +
                                 shift) != 0;
        };
        std::int64_t low = static_cast<std::int64_t>(block) - span;
        if (haveLast_ && lastBlock_ < block)
            low = std::max(low, static_cast<std::int64_t>(lastBlock_) + 1);
        auto it = std::lower_bound(blocks.begin(), blocks.end(),
                                   static_cast<std::uint32_t>(std::max<std::int64_t>(low, 1)));
        int ours = -1;
        for (; it != blocks.end() && *it <= block + span && nearest >= 0; ++it) {
            if (*it == block)
                continue;
            std::int64_t theirs =
                nearest - static_cast<std::int64_t>(static_cast<std::uint64_t>(*it) * g.blockSize);
            if (std::abs(theirs) > reach || !neighbourAgrees(g, read, *it, theirs) ||
                !lastAgrees(theirs))
                continue;
            if (ours < 0)
                ours = lastAgrees(nearest - base) ? explained(nearest - base) : 0;
            if (explained(theirs) >= ours)
                nearest = -1;
        }
    }
    if (nearest < 0 && candidate)
        ambiguous_ = true;
    if (nearest < 0) {
        ++searchesFailed_;
        return 0;
    }
    ++searchesFound_;
    found = true;
    return nearest - base;
}

MemoLocation MemoShifts::locate(const MemoGeometry &g, const MemoRead &read, std::uint32_t block) {
    auto base = static_cast<std::int64_t>(static_cast<std::uint64_t>(block) * g.blockSize);
    std::int64_t below = shiftBelow(block);
    std::int64_t above = shiftAbove(block);
    auto note = [&](std::int64_t shift, MemoLocation::Kind kind) {
        haveLast_ = true;
        lastBlock_ = block;
        lastStart_ = static_cast<std::uint64_t>(base + shift);
        return MemoLocation{kind, lastStart_};
    };
    const std::int64_t tries[] = {below, above, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        std::int64_t shift = tries[i];
        if ((i >= 1 && shift == below) || (i == 2 && shift == above))
            continue;
        if (memoEndAt(g, read, base + shift) != 0) {
            remember(block, shift);
            return note(shift, MemoLocation::Kind::Found);
        }
    }
    bool emptyText = false;
    if (g.layout == MemoLayout::Text && base >= 0 &&
        static_cast<std::uint64_t>(base) < g.fileSize) {
        std::uint8_t first = 0;
        emptyText = read(static_cast<std::uint64_t>(base), &first, 1) && first == endMark;
    }
    if (!emptyText && searchesFailed_ < searchAllowance + 4 * searchesFound_) {
        bool found = false;
        std::int64_t shift = search(g, read, block, below, found);
        if (found) {
            remember(block, shift);
            return note(shift, MemoLocation::Kind::Found);
        }
    }
    // No shift known on either side, and none suspected: the block is read as written, as it
    // always was.
    if (below == 0 && above == 0 && !ambiguous_)
        return {MemoLocation::Kind::AsWritten, static_cast<std::uint64_t>(base)};
    return {MemoLocation::Kind::Lost, 0};
}

} // namespace salvora
