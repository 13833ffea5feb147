// What a failed CreateProcessW means for the caller: the launcher's status for
// each Windows error number. Plain data, so it is checked on every platform.
#pragma once

#include <cstdint>

#include "run_request.h"

namespace launch {

// kStatusNotFound when there is no such program, kStatusCannotRun when it is
// there but Windows will not run it, kStatusLauncherFailed for anything else
// (a bad working directory, no memory, ...).
ReturnCode StatusForStartError(std::uint32_t WindowsError);

} // namespace launch
