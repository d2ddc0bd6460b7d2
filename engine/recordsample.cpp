#include "engine/recordsample.h"

#include <algorithm>

#include "engine/bufferedio.h"

namespace salvora {

FlagSample sampleFlags(WindowReader &reader, std::uint64_t start, std::uint32_t recordLength) {
    FlagSample sample;
    if (recordLength == 0 || start >= reader.fileSize())
        return sample;
    std::uint64_t records = (reader.fileSize() - start) / recordLength;
    constexpr std::uint64_t leading = recordSampleLimit / 2;
    std::uint64_t first = std::min(records, leading);
    std::uint64_t spread = records > leading ? leading : 0;
    // Junk is told by its first flags mostly: stop reading once the verdict cannot change.
    const auto planned = static_cast<int>(first + spread);
    auto look = [&](std::uint64_t index) {
        std::uint8_t flag = reader.view(start + index * recordLength, 1)[0];
        ++sample.total;
        if (flag == ' ' || flag == '*')
            ++sample.good;
        else if (flag != 0)
            ++sample.bad;
        return sample.bad * 3 <= planned;
    };
    for (std::uint64_t i = 0; i < first; ++i)
        if (!look(i))
            return sample;
    for (std::uint64_t j = 1; j <= spread; ++j)
        if (!look(leading + (records - leading - 1) * j / leading))
            return sample;
    return sample;
}

} // namespace salvora
