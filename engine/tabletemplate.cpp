#include "engine/tabletemplate.h"

#include <cstring>

#include "engine/bufferedio.h"
#include "engine/textformat.h"

namespace salvora {

LoadedTemplate loadTemplate(EngineContext &context, const std::string &path) {
    LoadedTemplate loaded;
    RecoveryJob probe;
    probe.sourcePath = path;
    probe.memoName = path;
    AnalysisResult found = analyseStructure(context, probe, SourceAccess::ReadOnly);
    if (!found.opened) {
        loaded.problem = formatText("template %s: %s", path, context.os.errorText(found.openError));
        return loaded;
    }
    const std::string unsound = formatText("the template %s is not a sound table", path);
    if (found.abort || found.relocated || found.headerOffset != 0 ||
        !found.repairedDescriptors.empty() || !tableTypeName(probe.header.type())) {
        loaded.problem = unsound;
        return loaded;
    }
    WindowReader reader(*probe.source, probe.sourceSize, 4096);
    TableTemplate table;
    std::memcpy(table.header.bytes.data(), reader.view(0, tableHeaderSize), tableHeaderSize);
    const std::uint32_t headerLength = table.header.headerLength();
    if (headerLength > probe.sourceSize || table.header.recordLength() == 0) {
        loaded.problem = unsound;
        return loaded;
    }
    const std::uint8_t *area = reader.view(0, headerLength);
    table.headerArea.assign(area, area + headerLength);
    table.path = path;
    table.fields = std::move(probe.fields);
    table.fieldCount = probe.fieldCount;
    loaded.table = std::move(table);
    return loaded;
}

} // namespace salvora
