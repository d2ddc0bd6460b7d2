#include "app/batchfile.h"

namespace salvora {

platform::ErrorCode saveBatchFile(platform::Platform &os, const std::string &name,
                                  std::string_view text) {
    platform::OpenRequest request{platform::Access::ReadWrite, platform::Share::None,
                                  platform::Disposition::CreateAlways};
    platform::OpenResult opened = os.openFile(name, request);
    if (!opened)
        return opened.error;
    platform::IoResult written = opened.file->write(text.data(), text.size());
    platform::ErrorCode error = written.error;
    if (error == 0 && written.bytes != text.size())
        error = platform::errorDiskFull();
    if (error == 0)
        error = opened.file->flush();
    opened.file.reset();
    if (error != 0)
        os.removeFile(name);
    return error;
}

} // namespace salvora
