#include "app/singlefile.h"

#include "app/resultlog.h"
#include "engine/nametemplates.h"
#include "engine/recovery.h"
#include "engine/textformat.h"

namespace salvora {

std::string logNameFor(const std::string &outputName) {
    std::size_t at = findNoCase(outputName, ".dbf");
    if (at == std::string::npos)
        return outputName + ".log";
    return outputName.substr(0, at) + ".log";
}

bool expandOutputName(std::string &name, const platform::LocalTime &now, std::string &error) {
    return expandDateTemplate(name, now, &error) && expandTimeTemplate(name, now, &error);
}

int runSingleFile(AppContext &app, const std::string &source,
                  const std::optional<std::string> &output) {
    EngineContext &engine = app.engine;
    std::string outputName = output.value_or(source);
    std::string expanded = outputName;
    std::string error;
    bool nameUsable = expandOutputName(expanded, engine.os.localTime(), error);

    // The log is named from the output as typed, before its templates.
    std::string logName = logNameFor(outputName);
    engine.options.detailedLog = 0;
    ResultLog log(engine.os, logName, false);

    int result = recoveryNothingProduced;
    if (nameUsable)
        result = runRecovery(engine, nullptr, source, expanded, false);
    else
        app.standardError.write(formatText("%s: %s\r\n", outputName, error));

    std::string line = resultLine(source, result);
    log.write(line);
    app.standardOutput.write(line);
    return result == recoveryFixed ? 0 : 1;
}

} // namespace salvora
