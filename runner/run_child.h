// Starts the child process: the only code that talks to the platform's
// process interface. One implementation file per platform.
#pragma once

#include <cstdint>
#include <string>

#include "run_request.h"

namespace launch {

// What the launcher's caller left in place, read by PrepareLauncher before
// the launcher changes anything. It travels through the run flow to the
// POSIX runner, which must hand the caller's signal settings back to the
// child; Windows has no such settings and leaves it empty.
struct CallerSettings {
  // Bit N: the caller left signal N ignored. It stays ignored in the launcher
  // and the child, and is never relayed.
  std::uint64_t IgnoredSignals = 0;
  // Bit N: the caller left signal N blocked. It does not end the launcher
  // where it would not end a program run without it (docs/linux.md).
  std::uint64_t BlockedSignals = 0;
};

// Readies the launcher's own process, before it writes anything, and returns
// what the caller had set. A report that cannot be written must not end the
// run: on POSIX, SIGPIPE is ignored (the child gets the caller's setting back).
CallerSettings PrepareLauncher();

// Starts the program named by the leading token of `CommandLine` (which
// begins with `Exe`) in `WorkingDirectory` and, when `Wait` is set, blocks
// until it ends.
//
// The child inherits the environment and the three standard streams, and no
// other handle or descriptor. An empty, missing or non-directory
// `WorkingDirectory` fails the start. A `CommandLine` of kCommandLineBufferUnits
// UTF-16 units or more is refused before anything is started.
//
// Returns Started with the child's exit code; without the wait, a child still
// running reports kStillActive. A failed start returns kStatusNotFound,
// kStatusCannotRun or kStatusLauncherFailed with the system's reason: the
// first two only for the program itself (not found, or refused by the
// system's start of it), the last for a step of the launcher's own (the
// directory, the child process not created or set up, a resource limit).
//
// While it waits, the launcher outlives an interrupt meant for the child (a
// relayed signal on POSIX, a console event on Windows) and reports how the
// child ended; a launcher that dies takes its child along. The rules, signal
// by signal, are in docs/linux.md and docs/windows.md.
//
// Windows: CreateProcessW reads the program from the line by its own rules;
// when that started another program than an unquoted `Exe` with blanks names
// as a whole, StartedInstead names the one that ran. POSIX: the line is split
// as a Windows C runtime splits its command line (SplitCommandLine); a name
// without a slash is searched on PATH, one with a slash is taken relative to
// the caller's directory; a child killed by signal N reports 128 + N.
RunOutcome RunChild(const std::wstring& Exe, const std::wstring& CommandLine,
                    const std::wstring& WorkingDirectory, bool Wait, const CallerSettings& Caller);

// How a waited child's end reads when a shell would have said something about
// it (a killing signal, an exception code), as in
// L"was killed by SIGSEGV (Segmentation fault), core dumped" or
// L"ended with exception 0xC0000005 (access violation)"; empty otherwise.
std::wstring DescribeAbnormalEnd(const RunOutcome& Outcome);

// Called last: writes the status line with `WriteStatusLine`, then returns,
// except on POSIX after a waited child that died of SIGINT or SIGQUIT: the
// launcher then ends by the same signal, so that a calling shell sees an
// interrupted job (unless the caller ignored that signal, or as PID 1). While
// the line waits for a reader, SIGTERM, SIGINT and SIGHUP may end the
// launcher; once it is out, no signal can end it with another status.
void FinishRun(const RunOutcome& Outcome, bool Waited, const CallerSettings& Caller,
               void (*WriteStatusLine)(ReturnCode));

} // namespace launch
