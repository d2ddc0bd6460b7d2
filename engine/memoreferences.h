// The blocks a table's records refer to, for memo files whose text memos end at a 0x1A.
#pragma once

#include "engine/recoveryjob.h"
#include "engine/runstages.h"

namespace salvora {

// Fills `job.sourceMemo`'s referenced blocks from every record of `area`, when its memos are
// text ended by 0x1A (dBASE III). Memo files whose blocks name their lengths get them only
// when asked (a memo is sought away from its block); `job` must outlive the memo file then.
void collectMemoReferences(RecoveryJob &job, const RecordArea &area);

} // namespace salvora
