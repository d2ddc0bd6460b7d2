// Test doubles derive from the forwarding platform and override only the calls they watch or
// break.
#pragma once

#include "platform/forwardingplatform.h"

namespace salvora::testing {

using platform::ForwardingPlatform;

} // namespace salvora::testing
