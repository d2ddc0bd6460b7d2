// A corpus case as a fuzz input: the seeds of the fuzz targets and the inputs the unit tests
// replay through the same checks.
#pragma once

#include "fuzz/fuzzinput.h"
#include "tests/support/damagecorpus.h"

namespace salvora::testing {

fuzz::Bytes fuzzInputOf(const CorpusCase &c);

} // namespace salvora::testing
