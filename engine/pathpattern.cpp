#include "engine/pathpattern.h"

#include "platform/platform.h"

namespace salvora {

namespace {

// True for "", a text ending with a separator and a bare drive: names follow directly.
bool endsWithPrefix(const std::string &folder) {
    return platform::fileNameStart(folder) == folder.size();
}

} // namespace

PathPattern splitPattern(const std::string &pattern) {
    std::size_t start = platform::fileNameStart(pattern);
    return {pattern.substr(0, start), pattern.substr(start)};
}

std::string entryPath(const std::string &folder, const std::string &name) {
    if (endsWithPrefix(folder))
        return folder + name;
    return folder + platform::preferredSeparator() + name;
}

std::string listingFolder(const std::string &folder) {
    if (!folder.empty() && endsWithPrefix(folder) && !platform::isPathSeparator(folder.back()))
        return folder + ".";
    return folder;
}

} // namespace salvora
