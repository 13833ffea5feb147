// The values that travel through one run of the launcher: the request built
// from the four arguments, and the outcome of starting the child.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace launch {

// The child's exit code as the platform reports it (all 32 bits), or the
// launcher's own status when the child could not be started or queried.
using ReturnCode = std::uint32_t;

// The launcher's own statuses, for failures of its own; chosen so that they
// cannot be mistaken for a child that succeeded.
inline constexpr ReturnCode kStatusLauncherFailed = 125; // usage, directory, too long, ...
inline constexpr ReturnCode kStatusCannotRun = 126;      // found, but cannot be run
inline constexpr ReturnCode kStatusNotFound = 127;       // program not found

// What the platform reports for a child that has not ended yet.
inline constexpr ReturnCode kStillActive = 259;

struct RunRequest {
  std::wstring Exe;
  std::wstring CmdLine;
  std::wstring WorkingDirectory;
  std::wstring IsWaiting;
  bool Wait = false;
};

// Why a start or an exit-code query failed, in the system's own words.
struct RunFailure {
  std::wstring Reason;                    // e.g. L"No such file or directory"
  std::optional<std::uint32_t> ErrorCode; // errno or GetLastError() value, when there is one
  // The program name the runner looked up, when it read one from the command
  // line (POSIX); the report names it instead of `Exe`, which may differ.
  std::optional<std::wstring> Program;
};

struct RunOutcome {
  bool Started = false;
  // The child's exit code when started and queried; otherwise one of the
  // launcher's own statuses above.
  ReturnCode Code = 0;
  // Set when the start failed, or when the child started but its exit code
  // could not be read.
  std::optional<RunFailure> Failure;
  // POSIX: the signal that ended the child (Code is then 128 + the signal);
  // 0 when it exited, and always 0 on Windows.
  int KilledBy = 0;
  // POSIX: the kernel wrote a core file as that signal ended the child
  // (WCOREDUMP); always false on Windows.
  bool CoreDumped = false;
  // Windows: the program that ran when it is not the one that an unquoted
  // `Exe` with blanks names as a whole (Windows read the name only up to a
  // blank); the full path of the file that ran.
  std::optional<std::wstring> StartedInstead;
};

} // namespace launch
