#include "tests/support/writelog.h"

namespace salvora::testing {

namespace {

class LoggedFile final : public platform::FileHandle {
  public:
    LoggedFile(std::unique_ptr<platform::FileHandle> inner,
               std::shared_ptr<std::vector<std::uint64_t>> sizes)
        : inner_(std::move(inner)), sizes_(std::move(sizes)) {}

    platform::IoResult read(void *buffer, std::size_t size) override {
        return inner_->read(buffer, size);
    }
    platform::IoResult write(const void *data, std::size_t size) override {
        platform::IoResult result = inner_->write(data, size);
        if (result.bytes > 0)
            sizes_->push_back(result.bytes);
        return result;
    }
    platform::ErrorCode seek(std::uint64_t offset) override { return inner_->seek(offset); }
    std::optional<std::uint64_t> size(platform::ErrorCode *error) override {
        return inner_->size(error);
    }
    platform::ErrorCode setEnd() override { return inner_->setEnd(); }
    platform::ErrorCode flush() override { return inner_->flush(); }
    void startWriteBack(std::uint64_t offset, std::uint64_t length) override {
        inner_->startWriteBack(offset, length);
    }
    platform::ErrorCode getTimes(platform::FileTimes &times) override {
        return inner_->getTimes(times);
    }
    platform::ErrorCode applyAttributes(const platform::FileAttributes &attributes) override {
        return inner_->applyAttributes(attributes);
    }
    platform::ErrorCode setTimes(const platform::FileTimes &times) override {
        return inner_->setTimes(times);
    }

  private:
    std::unique_ptr<platform::FileHandle> inner_;
    std::shared_ptr<std::vector<std::uint64_t>> sizes_;
};

} // namespace

WriteLog::WriteLog(platform::Platform &inner)
    : ForwardingPlatform(inner), sizes_(std::make_shared<std::vector<std::uint64_t>>()) {}

platform::OpenResult WriteLog::openFile(const std::string &path,
                                        const platform::OpenRequest &request) {
    platform::OpenResult opened = inner().openFile(path, request);
    if (opened.file)
        opened.file = std::make_unique<LoggedFile>(std::move(opened.file), sizes_);
    return opened;
}

platform::OpenResult WriteLog::createWorkFile(const std::string &folder, const std::string &prefix,
                                              std::string &path) {
    platform::OpenResult created = inner().createWorkFile(folder, prefix, path);
    if (created.file)
        created.file = std::make_unique<LoggedFile>(std::move(created.file), sizes_);
    return created;
}

platform::ErrorCode WriteLog::copyFile(const std::string &from, const std::string &to) {
    platform::ErrorCode error = inner().copyFile(from, to);
    if (error == 0) {
        platform::OpenResult copy = inner().openFile(to, {});
        std::uint64_t size = copy.file ? copy.file->size().value_or(0) : 0;
        if (size > 0)
            sizes_->push_back(size);
    }
    return error;
}

} // namespace salvora::testing
