#include "engine/enginelog.h"

namespace salvora {

platform::ErrorCode EngineLog::open(platform::Platform &os) {
    platform::OpenResult opened =
        os.openFile(engineLogName, {platform::Access::ReadWrite, platform::Share::None,
                                    platform::Disposition::CreateAlways, false, false});
    file_ = std::move(opened.file);
    return opened.error;
}

void EngineLog::write(std::string_view text) {
    if (file_)
        file_->write(text.data(), text.size());
}

} // namespace salvora
