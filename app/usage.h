// The usage text of --help, built from the switch table so that it lists every switch.
#pragma once

#include <string>

namespace salvora {

std::string usageText();

} // namespace salvora
