// Starts the child process: the only code that talks to the platform's
// process interface. One implementation file per platform.
#pragma once

#include <string>

#include "run_request.h"

namespace launch {

// Starts the program named by the leading token of `CommandLine` in
// `WorkingDirectory` and, when `Wait` is set, blocks until it ends.
//
// The child inherits the environment and the three standard streams, and no
// other handle or descriptor. An empty, missing or non-directory
// `WorkingDirectory` fails the start. A `CommandLine` of kCommandLineBufferUnits
// UTF-16 units or more is refused before anything is started.
//
// Returns Started with the child's exit code; without the wait, a child still
// running reports kStillActive. A failed start returns kStatusNotFound,
// kStatusCannotRun or kStatusLauncherFailed with the system's reason.
//
// Windows: CreateProcessW reads the program from the line by its own rules.
// POSIX: the line is split as a Windows C runtime splits its command line
// (SplitCommandLine); a program name without a slash is searched on PATH, one
// with a slash is taken relative to the caller's current directory. A child
// killed by signal N reports 128 + N.
RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait);

// Readies the launcher's own process, before it writes anything. A report that
// cannot be written must not end the run: on POSIX, SIGPIPE is ignored (the
// child gets the caller's setting back). While RunChild waits, an interrupt
// from the terminal is left to the child: the launcher outlives it and reports
// its status (POSIX: SIGINT and SIGQUIT ignored, and at their default in the
// child; Windows: a console control handler that swallows Ctrl-C and Ctrl-Break).
void PrepareLauncher();

} // namespace launch
