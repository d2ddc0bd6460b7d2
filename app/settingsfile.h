// The settings as a text file, for systems without a registry. The file holds the registry
// key's values with their types, one per line:
//
//   # comment
//   NAME text DATA     the rest of the line; "\\", "\n", "\r" and "\0" stand for themselves
//   NAME number DATA   signed decimal, 32 bits
//   NAME bytes DATA    hexadecimal pairs, lowest address first
//
// Names are letters, digits and '_'. A line that does not read is ignored, so a damaged file
// only loses the values it garbled. Every write replaces the file in one step (a temporary
// file beside it, then a rename), so a crash leaves either the old or the new file.
#pragma once

#include <map>
#include <string>

#include "app/settings.h"

namespace salvora {

class FileSettingsBackend final : public SettingsBackend {
  public:
    // Reads the file when it exists; `existed` tells whether it did.
    FileSettingsBackend(platform::Platform &os, std::string path);
    bool existed() const { return existed_; }

    std::optional<SettingsValue> read(const std::string &name) override;
    int write(const std::string &name, const SettingsValue &value) override;

  private:
    platform::Platform &os_;
    std::string path_;
    std::map<std::string, SettingsValue> values_;
    bool existed_ = false;
};

std::string formatSettingsFile(const std::map<std::string, SettingsValue> &values);
std::map<std::string, SettingsValue> parseSettingsFile(const std::string &text);

// "$XDG_CONFIG_HOME/salvora/settings", or "~/.config/salvora/settings" when that is unset
// or not absolute; empty when there is no home either.
std::string settingsFilePath(platform::AppSystem &system);

} // namespace salvora
