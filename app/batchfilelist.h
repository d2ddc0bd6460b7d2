// The files a recursive batch found, in the order the walk found them. A folder the walk
// could not read keeps its place in the list, so that the log reports it where it lies.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace salvora {

struct BatchFileItem {
    std::string path;
    // Not 0 when `path` is a folder that could not be listed, and why.
    platform::ErrorCode folderError = 0;
    // True when `path` is a folder left out because entering it would go round in a circle.
    bool folderLoop = false;
    // True when the listing that found `path` showed a file of its folder, not a link.
    bool listedAsFile = false;
};

class BatchFileList {
  public:
    void append(std::string path, bool listedAsFile = false) {
        items_.push_back({std::move(path), 0, false, listedAsFile});
    }
    void appendUnreadableFolder(std::string folder, platform::ErrorCode error) {
        items_.push_back({std::move(folder), error, false, false});
    }
    void appendFolderLoop(std::string folder) {
        items_.push_back({std::move(folder), 0, true, false});
    }

    std::vector<BatchFileItem>::const_iterator begin() const { return items_.begin(); }
    std::vector<BatchFileItem>::const_iterator end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    const BatchFileItem &operator[](std::size_t index) const { return items_[index]; }
    bool empty() const { return items_.empty(); }

  private:
    std::vector<BatchFileItem> items_;
};

} // namespace salvora
