// Placeholder until the batch module lands: nothing is processed yet.
#include "app/batch.h"

namespace salvora {

namespace {

int nothingProcessed(AppContext &app) {
    app.standardOutput.write("No files processed.\r\n");
    return 2;
}

} // namespace

int runWildcardBatch(AppContext &app, const std::string &, bool) {
    return nothingProcessed(app);
}

int runRecursiveBatch(AppContext &app, const std::string &) {
    return nothingProcessed(app);
}

} // namespace salvora
