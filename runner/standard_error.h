// The launcher's one writer of standard error on POSIX: the run flow's
// diagnostics and the runner's notices all go through it, so that one bound
// holds for every line.
#pragma once

#include <string_view>

namespace launch {

// What WriteStandardError returns when stderr has already cost the run its
// second, or takes nothing: the bytes were dropped.
inline constexpr int kStandardErrorStuck = -1;

// Writes `Bytes` whole to stderr. A run spends at most about a second in all
// waiting for stderr to take its lines (a full pipe nobody reads, a caller's
// non-blocking pipe): once that is spent, stderr is taken as stuck and this
// and every later call drop their bytes at once. Returns 0, the errno of a
// failed write, or kStandardErrorStuck.
int WriteStandardError(std::string_view Bytes);

// One line on stderr, "launch: <Text>", through WriteStandardError.
void WriteNotice(std::string_view Text);

} // namespace launch
