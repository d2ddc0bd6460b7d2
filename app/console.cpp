#include "app/console.h"

#include "engine/textformat.h"
#include "version.h"

namespace salvora {

void StandardStreamSink::release() {
    held_ = false;
    if (!pending_.empty())
        system_.writeStandard(stream_, pending_);
    pending_.clear();
}

std::string bannerLine() {
    return formatText("Salvora v%s\r\n", programVersion);
}

} // namespace salvora
