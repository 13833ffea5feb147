// The launcher's two text channels. Each call writes one whole line and ends it
// with the platform's newline; nothing is buffered, so a line is out before the
// call returns. A line that cannot be written is given up, and the call says
// why; the report's callers go on regardless, so its status is not affected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run_request.h"

namespace launch {

// The report, on standard output. Returns why the line could not be written
// whole, or nothing when it was.
std::optional<RunFailure> WriteOutputLine(std::wstring_view Line);

// Diagnostics, on standard error.
std::optional<RunFailure> WriteErrorLine(std::wstring_view Line);

} // namespace launch
