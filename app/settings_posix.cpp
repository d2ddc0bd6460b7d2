// Without a registry the settings live in a file of the user's configuration folder.
#include "app/settings.h"
#include "app/settingsfile.h"

namespace salvora {

SettingsStore openNativeSettings(platform::Platform &os, platform::AppSystem &system) {
    std::string path = settingsFilePath(system);
    if (path.empty() || system.createFolders(platform::folderOf(path)) != 0)
        return SettingsStore(nullptr, settingsOpenFailed);
    auto backend = std::make_unique<FileSettingsBackend>(os, path);
    std::uint32_t disposition = backend->existed() ? settingsOpenedExisting : settingsCreatedNew;
    return SettingsStore(std::move(backend), disposition);
}

} // namespace salvora
