#include "engine/enginecontext.h"

namespace salvora {

std::string defaultEngineString(int id) {
    switch (id) {
    case stringUnrecoverableFile:
        return "Unrecoverable file...\r\n";
    case stringRecoverableRecords:
        return "Analyzing file...\r\nProcess complete.\r\nRecoverable records: %d\r\n";
    default:
        return {};
    }
}

} // namespace salvora
