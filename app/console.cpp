#include "app/console.h"

#include "engine/textformat.h"
#include "version.h"

namespace salvora {

std::string bannerLine() {
    return formatText("Salvora v%s\r\n", programVersion);
}

} // namespace salvora
