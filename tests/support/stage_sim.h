// Applies a stage script (the one tools/lab/stage.exe runs under Wine) to the simulated
// machine.
#pragma once

#include <string>

#include "platform/sim/machine.h"

namespace staging {

// Returns an error text for a line it cannot apply, empty when all went well.
std::string ApplyStageScript(sim::Machine& machine, const std::string& script);

}  // namespace staging
