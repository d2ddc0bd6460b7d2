#include "app/sharedfiles.h"

namespace salvora {

namespace {

// Names this long may need the short form of the work files' names.
constexpr std::size_t longName = 200;

std::string lowerAscii(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

TableFiles::TableFiles(platform::Platform &os, const std::string &path) {
    std::string real = os.resolvedPath(path);
    std::size_t nameStart = platform::fileNameStart(real);
    std::string name = real.substr(nameStart);
    folder_ = lowerAscii(real.substr(0, nameStart));
    wholeFolder_ = name.empty() || name.front() == '.' || name.size() > longName;
    stem_ = lowerAscii(name.substr(0, name.find('.')));
}

bool TableFiles::overlaps(const TableFiles &other) const {
    return folder_ == other.folder_ && (wholeFolder_ || other.wholeFolder_ || stem_ == other.stem_);
}

} // namespace salvora
