#include "tests/support/faultplatform.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <vector>

namespace salvora::testing {

using platform::Access;
using platform::Disposition;
using platform::ErrorCode;
using platform::IoResult;
using platform::OpenRequest;

PathFilter anyPath() {
    return [](const std::string &) { return true; };
}

PathFilter pathIs(std::string path) {
    return [path = std::move(path)](const std::string &candidate) { return candidate == path; };
}

PathFilter pathEndsWith(std::string suffix) {
    return [suffix = std::move(suffix)](const std::string &candidate) {
        if (candidate.size() < suffix.size())
            return false;
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return std::equal(suffix.begin(), suffix.end(), candidate.end() - suffix.size(),
                          [&](char a, char b) { return lower(a) == lower(b); });
    };
}

ErrorCode ioError() {
#ifdef _WIN32
    return 30; // ERROR_READ_FAULT
#else
    return EIO;
#endif
}

namespace {

bool matches(const PathFilter &filter, const std::string &path) {
    return !filter || filter(path);
}

} // namespace

struct FaultPlatform::State {
    struct ReadFault {
        PathFilter filter;
        std::uint64_t offset;
        std::uint64_t length;
        ErrorCode error;
        int times;
        int spared;
    };
    struct OperationFault {
        Operation operation;
        PathFilter filter;
        ErrorCode error;
        std::optional<Access> access;
        std::optional<Disposition> disposition;
        int times;
    };

    std::mutex mutex;

    bool writeLimited = false;
    std::uint64_t writeBudget = 0;
    PathFilter writeFilter;
    ErrorCode writeError = 0;

    std::vector<ReadFault> readFaults;
    std::vector<OperationFault> operationFaults;

    std::optional<std::uint64_t> crashCountdown;
    bool crashed = false;
    std::uint64_t mutating = 0;

    std::optional<platform::LocalTime> time;
    std::map<std::string, IoCounters> counters;

    bool writeLimitApplies(const std::string &path) const {
        return writeLimited && matches(writeFilter, path);
    }

    // Counts one mutating step, or reports the crash that stops it.
    ErrorCode beginMutation() {
        if (crashed)
            return ioError();
        if (crashCountdown) {
            if (*crashCountdown == 0) {
                crashed = true;
                return ioError();
            }
            --*crashCountdown;
        }
        ++mutating;
        return 0;
    }

    ErrorCode injectedFault(Operation operation, const std::string &a, const std::string *b,
                            const OpenRequest *request) {
        for (auto it = operationFaults.begin(); it != operationFaults.end(); ++it) {
            if (it->operation != operation || it->times == 0)
                continue;
            if (!matches(it->filter, a) && !(b && matches(it->filter, *b)))
                continue;
            if (request && it->access && *it->access != request->access)
                continue;
            if (request && it->disposition && *it->disposition != request->disposition)
                continue;
            ErrorCode error = it->error;
            if (it->times > 0 && --it->times == 0)
                operationFaults.erase(it);
            return error;
        }
        return 0;
    }

    // Crash first (nothing happens after it), then injected faults (which change nothing and
    // so are no step), then the step itself.
    ErrorCode gate(Operation operation, bool mutates, const std::string &a,
                   const std::string *b = nullptr, const OpenRequest *request = nullptr) {
        if (mutates && crashed)
            return ioError();
        if (ErrorCode error = injectedFault(operation, a, b, request))
            return error;
        return mutates ? beginMutation() : 0;
    }
};

namespace {

class FaultFile final : public platform::FileHandle {
  public:
    FaultFile(std::unique_ptr<platform::FileHandle> inner,
              std::shared_ptr<FaultPlatform::State> state, std::string path)
        : inner_(std::move(inner)), state_(std::move(state)), path_(std::move(path)) {}

    IoResult read(void *buffer, std::size_t size) override {
        std::lock_guard lock(state_->mutex);
        IoCounters &count = state_->counters[path_];
        ++count.reads;
        // The nearest bad spot the read would reach.
        std::optional<std::uint64_t> stopAt;
        ErrorCode faultError = 0;
        for (auto &fault : state_->readFaults) {
            if (!matches(fault.filter, path_) || fault.times == 0)
                continue;
            if (fault.offset < position_ + size && position_ < fault.offset + fault.length) {
                if (fault.spared > 0) {
                    --fault.spared;
                    continue;
                }
                if (fault.times > 0)
                    --fault.times;
                std::uint64_t stop = std::max(fault.offset, position_);
                if (!stopAt || stop < *stopAt) {
                    stopAt = stop;
                    faultError = fault.error;
                }
            }
        }
        std::size_t wanted = stopAt ? static_cast<std::size_t>(*stopAt - position_) : size;
        IoResult result;
        if (wanted > 0)
            result = inner_->read(buffer, wanted);
        position_ += result.bytes;
        count.bytesRead += result.bytes;
        // A read that met the end of the file first never reached the bad spot.
        if (stopAt && result.ok() && result.bytes == wanted)
            result.error = faultError;
        return result;
    }

    IoResult write(const void *data, std::size_t size) override {
        std::lock_guard lock(state_->mutex);
        IoCounters &count = state_->counters[path_];
        ++count.writes;
        if (state_->crashed)
            return {0, ioError()};
        std::size_t allowed = size;
        bool limited = state_->writeLimitApplies(path_);
        if (limited) {
            if (state_->writeBudget == 0)
                return {0, state_->writeError};
            allowed = static_cast<std::size_t>(std::min<std::uint64_t>(size, state_->writeBudget));
        }
        if (ErrorCode error = state_->beginMutation())
            return {0, error};
        IoResult result = inner_->write(data, allowed);
        position_ += result.bytes;
        count.bytesWritten += result.bytes;
        if (limited)
            state_->writeBudget -= result.bytes;
        if (result.ok() && allowed < size)
            result.error = state_->writeError;
        return result;
    }

    ErrorCode seek(std::uint64_t offset) override {
        std::lock_guard lock(state_->mutex);
        ++state_->counters[path_].seeks;
        ErrorCode error = inner_->seek(offset);
        if (error == 0)
            position_ = offset;
        return error;
    }

    std::optional<std::uint64_t> size(ErrorCode *error) override { return inner_->size(error); }

    ErrorCode setEnd() override {
        std::lock_guard lock(state_->mutex);
        ++state_->counters[path_].setEnds;
        if (ErrorCode error = state_->beginMutation())
            return error;
        return inner_->setEnd();
    }

    ErrorCode flush() override {
        std::lock_guard lock(state_->mutex);
        ++state_->counters[path_].flushes;
        if (state_->crashed)
            return ioError();
        return inner_->flush();
    }

    ErrorCode getTimes(platform::FileTimes &times) override { return inner_->getTimes(times); }

    ErrorCode setTimes(const platform::FileTimes &times) override {
        std::lock_guard lock(state_->mutex);
        if (ErrorCode error = state_->beginMutation())
            return error;
        return inner_->setTimes(times);
    }
    ErrorCode applyAttributes(const platform::FileAttributes &attributes) override {
        std::lock_guard lock(state_->mutex);
        if (ErrorCode error = state_->gate(Operation::SetAttributes, true, path_))
            return error;
        return inner_->applyAttributes(attributes);
    }

  private:
    std::unique_ptr<platform::FileHandle> inner_;
    std::shared_ptr<FaultPlatform::State> state_;
    std::string path_;
    // Mirrors the inner file's position, which the handle interface cannot report.
    std::uint64_t position_ = 0;
};

} // namespace

FaultPlatform::FaultPlatform(platform::Platform &inner)
    : inner_(inner), state_(std::make_shared<State>()) {}

FaultPlatform::~FaultPlatform() = default;

void FaultPlatform::failWritesAfter(std::uint64_t bytes, PathFilter filter, ErrorCode error) {
    std::lock_guard lock(state_->mutex);
    state_->writeLimited = true;
    state_->writeBudget = bytes;
    state_->writeFilter = std::move(filter);
    state_->writeError = error;
}

void FaultPlatform::failReadsAt(PathFilter filter, std::uint64_t offset, std::uint64_t length,
                                ErrorCode error, int times, int spared) {
    std::lock_guard lock(state_->mutex);
    state_->readFaults.push_back(
        {std::move(filter), offset, std::max<std::uint64_t>(length, 1), error, times, spared});
}

void FaultPlatform::failOperation(Operation operation, PathFilter filter, ErrorCode error,
                                  int times) {
    std::lock_guard lock(state_->mutex);
    state_->operationFaults.push_back(
        {operation, std::move(filter), error, std::nullopt, std::nullopt, times});
}

void FaultPlatform::failOpen(PathFilter filter, ErrorCode error, std::optional<Access> access,
                             std::optional<Disposition> disposition, int times) {
    std::lock_guard lock(state_->mutex);
    state_->operationFaults.push_back(
        {Operation::Open, std::move(filter), error, access, disposition, times});
}

void FaultPlatform::crashAfter(std::uint64_t operations) {
    std::lock_guard lock(state_->mutex);
    state_->crashCountdown = operations;
    state_->crashed = false;
}

bool FaultPlatform::crashed() const {
    std::lock_guard lock(state_->mutex);
    return state_->crashed;
}

std::uint64_t FaultPlatform::mutatingOperations() const {
    std::lock_guard lock(state_->mutex);
    return state_->mutating;
}

void FaultPlatform::clearFaults() {
    std::lock_guard lock(state_->mutex);
    state_->writeLimited = false;
    state_->writeFilter = {};
    state_->readFaults.clear();
    state_->operationFaults.clear();
    state_->crashCountdown.reset();
    state_->crashed = false;
}

void FaultPlatform::setLocalTime(std::optional<platform::LocalTime> time) {
    std::lock_guard lock(state_->mutex);
    state_->time = time;
}

IoCounters FaultPlatform::counters(const PathFilter &filter) const {
    std::lock_guard lock(state_->mutex);
    IoCounters sum;
    for (const auto &[path, count] : state_->counters) {
        if (!matches(filter, path))
            continue;
        sum.opens += count.opens;
        sum.reads += count.reads;
        sum.writes += count.writes;
        sum.seeks += count.seeks;
        sum.setEnds += count.setEnds;
        sum.flushes += count.flushes;
        sum.bytesRead += count.bytesRead;
        sum.bytesWritten += count.bytesWritten;
    }
    return sum;
}

void FaultPlatform::resetCounters() {
    std::lock_guard lock(state_->mutex);
    state_->counters.clear();
}

platform::OpenResult FaultPlatform::openFile(const std::string &path, const OpenRequest &request) {
    std::lock_guard lock(state_->mutex);
    ++state_->counters[path].opens;
    bool mutates = request.disposition != Disposition::OpenExisting;
    if (ErrorCode error = state_->gate(Operation::Open, mutates, path, nullptr, &request))
        return {nullptr, error};
    platform::OpenResult result = inner_.openFile(path, request);
    if (result.file)
        result.file = std::make_unique<FaultFile>(std::move(result.file), state_, path);
    return result;
}

std::optional<platform::FileAttributes> FaultPlatform::getAttributes(const std::string &path,
                                                                     ErrorCode *error) {
    return inner_.getAttributes(path, error);
}

ErrorCode FaultPlatform::setAttributes(const std::string &path,
                                       const platform::FileAttributes &attributes) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode error = state_->gate(Operation::SetAttributes, true, path))
        return error;
    return inner_.setAttributes(path, attributes);
}

ErrorCode FaultPlatform::setReadOnly(const std::string &path, bool readOnly) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode error = state_->gate(Operation::SetAttributes, true, path))
        return error;
    return inner_.setReadOnly(path, readOnly);
}

ErrorCode FaultPlatform::copyFile(const std::string &from, const std::string &to) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode error = state_->gate(Operation::Copy, true, from, &to))
        return error;
    if (ErrorCode error = inner_.copyFile(from, to))
        return error;
    if (!state_->writeLimitApplies(to))
        return 0;
    // Disk full during the copy: keep what would have fitted.
    platform::OpenResult copy =
        inner_.openFile(to, {Access::ReadWrite, platform::Share::None, Disposition::OpenExisting});
    if (!copy)
        return copy.error;
    std::uint64_t size = copy.file->size().value_or(0);
    if (size <= state_->writeBudget) {
        state_->writeBudget -= size;
        return 0;
    }
    copy.file->seek(state_->writeBudget);
    copy.file->setEnd();
    state_->writeBudget = 0;
    return state_->writeError;
}

ErrorCode FaultPlatform::removeFile(const std::string &path) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode error = state_->gate(Operation::Remove, true, path))
        return error;
    return inner_.removeFile(path);
}

ErrorCode FaultPlatform::renameFile(const std::string &from, const std::string &to) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode error = state_->gate(Operation::Rename, true, from, &to))
        return error;
    return inner_.renameFile(from, to);
}

std::string FaultPlatform::tempFolder() {
    return inner_.tempFolder();
}

std::optional<std::string> FaultPlatform::createUniqueFile(const std::string &folder,
                                                           const std::string &prefix,
                                                           ErrorCode *error) {
    std::lock_guard lock(state_->mutex);
    if (ErrorCode injected = state_->gate(Operation::CreateUnique, true, folder)) {
        if (error)
            *error = injected;
        return std::nullopt;
    }
    return inner_.createUniqueFile(folder, prefix, error);
}

std::string FaultPlatform::currentDirectory() {
    return inner_.currentDirectory();
}

std::string FaultPlatform::resolvedPath(const std::string &path) {
    return inner_.resolvedPath(path);
}

std::optional<bool> FaultPlatform::sameFile(const std::string &a, const std::string &b) {
    return inner_.sameFile(a, b);
}

std::optional<platform::FileIdentity> FaultPlatform::identity(const std::string &path,
                                                              ErrorCode *error) {
    return inner_.identity(path, error);
}

bool FaultPlatform::isSymbolicLink(const std::string &path) {
    return inner_.isSymbolicLink(path);
}

platform::OpenResult FaultPlatform::createWorkFile(const std::string &folder,
                                                   const std::string &prefix, std::string &path) {
    std::lock_guard lock(state_->mutex);
    // Filters see the folder and the name's fixed part, as they see both names of a rename.
    std::string named = platform::joinPath(folder, prefix);
    if (ErrorCode injected = state_->gate(Operation::CreateUnique, true, folder, &named))
        return {nullptr, injected};
    platform::OpenResult result = inner_.createWorkFile(folder, prefix, path);
    if (result.file) {
        ++state_->counters[path].opens;
        result.file = std::make_unique<FaultFile>(std::move(result.file), state_, path);
    }
    return result;
}

platform::FileAttributes FaultPlatform::newFileAttributes() {
    return inner_.newFileAttributes();
}

ErrorCode FaultPlatform::listDirectory(const std::string &folder, const std::string &pattern,
                                       std::vector<platform::DirectoryEntry> &entries) {
    return inner_.listDirectory(folder, pattern, entries);
}

platform::LocalTime FaultPlatform::localTime() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->time)
            return *state_->time;
    }
    return inner_.localTime();
}

std::string FaultPlatform::errorText(ErrorCode code) {
    return inner_.errorText(code);
}

} // namespace salvora::testing
