// A settings backend in memory, for tests that must not touch the user's settings.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "app/settings.h"

namespace salvora::testing {

class MemorySettings final : public SettingsBackend {
  public:
    // Shared so that a test can look inside after the store took the backend over.
    std::shared_ptr<std::map<std::string, SettingsValue>> values =
        std::make_shared<std::map<std::string, SettingsValue>>();
    int writeStatus = 0;
    int writes = 0;

    std::optional<SettingsValue> read(const std::string &name) override {
        auto found = values->find(name);
        if (found == values->end())
            return std::nullopt;
        return found->second;
    }
    int write(const std::string &name, const SettingsValue &value) override {
        ++writes;
        if (writeStatus == 0)
            (*values)[name] = value;
        return writeStatus;
    }
};

} // namespace salvora::testing
