// The last resort of the structure search: header and descriptors are gone, and the layout is
// inferred from the records themselves.
#pragma once

#include "engine/analysis.h"
#include "engine/recoveryjob.h"

namespace salvora {

class WindowReader;

// True when the records show a layout; the job then holds a header and fields named FIELD1 on,
// and `result` says that the layout was inferred. Data that is not records is left alone.
bool inferTable(platform::Platform &os, RecoveryJob &job, WindowReader &reader,
                AnalysisResult &result);

} // namespace salvora
