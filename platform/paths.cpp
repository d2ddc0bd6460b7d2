#include "platform/platform.h"

#include <algorithm>

namespace salvora::platform {

bool isPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

char preferredSeparator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

std::size_t fileNameStart(const std::string &path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (isPathSeparator(path[i - 1]))
            return i;
    }
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':')
        return 2;
#endif
    return 0;
}

std::string folderOf(const std::string &path) {
    std::size_t start = fileNameStart(path);
    if (start == 0)
        return ".";
    std::string folder = path.substr(0, start);
    while (folder.size() > 1 && isPathSeparator(folder.back()))
        folder.pop_back();
    return folder;
}

std::string joinPath(const std::string &folder, const std::string &name) {
    // After a separator or a bare drive ("C:", its current folder) the name follows directly.
    if (fileNameStart(folder) == folder.size())
        return folder + name;
    return folder + preferredSeparator() + name;
}

std::string lowerAscii(std::string text) {
    for (char &c : text)
        c = lowerAscii(c);
    return text;
}

void sortListing(std::vector<DirectoryEntry> &entries) {
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry &x, const DirectoryEntry &y) {
        std::size_t common = std::min(x.name.size(), y.name.size());
        for (std::size_t i = 0; i < common; ++i) {
            auto a = static_cast<unsigned char>(lowerAscii(x.name[i]));
            auto b = static_cast<unsigned char>(lowerAscii(y.name[i]));
            if (a != b)
                return a < b;
        }
        if (x.name.size() != y.name.size())
            return x.name.size() < y.name.size();
        return x.name < y.name;
    });
}

bool wildcardMatch(const std::string &pattern, const std::string &name) {
    // Iterative matcher with one backtrack point: linear for patterns with a single '*',
    // never exponential.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace salvora::platform
