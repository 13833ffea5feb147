// What `launch --help` and `launch --version` print.
#pragma once

#include <optional>

#include "run_request.h"

namespace launch {

// Each returns why its text could not be written whole, or nothing.
std::optional<RunFailure> WriteHelp();
std::optional<RunFailure> WriteVersion();
void WriteUsage(); // on stderr, for a wrong argument list

} // namespace launch
