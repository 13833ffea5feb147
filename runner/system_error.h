// An error number of the system's (errno on POSIX, GetLastError() on Windows)
// as a failure: the system's own words and the number.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "run_request.h"

namespace launch {

// The system's own words for `Error`, on one line and without a final full stop.
std::wstring SystemReason(std::uint32_t Error);

// `Context` (such as L"working directory 'x': ") followed by the system's words
// for `Error`, with the number kept for the report.
inline RunFailure FailureFor(std::uint32_t Error, std::wstring Context = {}) {
  return RunFailure{std::move(Context) + SystemReason(Error), Error, std::nullopt};
}

// The failure's reason followed by its error number, when it has one:
// "No such file or directory (error 2)".
inline std::wstring ReasonWithNumber(const RunFailure& Failure) {
  return Failure.ErrorCode
             ? Failure.Reason + L" (error " + std::to_wstring(*Failure.ErrorCode) + L")"
             : Failure.Reason;
}

} // namespace launch
