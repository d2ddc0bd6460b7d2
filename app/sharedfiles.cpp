#include "app/sharedfiles.h"

namespace salvora {

namespace {

// Names this long may need the short form of the work files' names.
constexpr std::size_t longName = 200;

} // namespace

TableFiles::TableFiles(platform::Platform &os, const std::string &path) {
    setRealPath(os.resolvedPath(path));
}

TableFiles TableFiles::ofRealPath(const std::string &realPath) {
    TableFiles files;
    files.setRealPath(realPath);
    return files;
}

void TableFiles::setRealPath(const std::string &real) {
    std::size_t nameStart = platform::fileNameStart(real);
    std::string name = real.substr(nameStart);
    folder_ = platform::lowerAscii(real.substr(0, nameStart));
    wholeFolder_ = name.empty() || name.front() == '.' || name.size() > longName;
    stem_ = platform::lowerAscii(name.substr(0, name.find('.')));
}

bool TableFiles::overlaps(const TableFiles &other) const {
    return folder_ == other.folder_ && (wholeFolder_ || other.wholeFolder_ || stem_ == other.stem_);
}

bool FilesInUse::overlaps(const TableFiles &files) const {
    auto found = folders_.find(files.folder_);
    if (found == folders_.end())
        return false;
    const Folder &folder = found->second;
    return files.wholeFolder_ || folder.wholeFolder > 0 || folder.stems.count(files.stem_) > 0;
}

void FilesInUse::add(const TableFiles &files) {
    Folder &folder = folders_[files.folder_];
    ++folder.tables;
    if (files.wholeFolder_)
        ++folder.wholeFolder;
    else
        ++folder.stems[files.stem_];
}

void FilesInUse::remove(const TableFiles &files) {
    auto found = folders_.find(files.folder_);
    if (found == folders_.end())
        return;
    Folder &folder = found->second;
    if (files.wholeFolder_) {
        --folder.wholeFolder;
    } else {
        auto stem = folder.stems.find(files.stem_);
        if (stem != folder.stems.end() && --stem->second == 0)
            folder.stems.erase(stem);
    }
    if (--folder.tables == 0)
        folders_.erase(found);
}

} // namespace salvora
