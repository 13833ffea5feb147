// Starts the child process: the only code that talks to the platform's
// process interface. One implementation file per platform.
#pragma once

#include <cstdint>
#include <string>

#include "run_request.h"

namespace launch {

// What the launcher's caller left in place, read by PrepareLauncher before
// the launcher changes anything, so that the child gets it back.
struct CallerSettings {
  // POSIX: bit N is set when the caller left signal N ignored. Such a signal
  // stays ignored in the launcher and in the child and is never relayed.
  // Windows: unused.
  std::uint64_t IgnoredSignals = 0;
  // POSIX: bit N is set when the caller left signal N blocked. Such a signal
  // does not end the launcher where it would not end a program without the
  // relay: when it cannot be relayed, and while the status line waits for a
  // reader. A child that died of SIGINT or SIGQUIT still ends the launcher by
  // the same signal, blocked or not (FinishRun). Windows: unused.
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
// While it waits, the launcher outlives an interrupt meant for the child and
// reports how the child ended:
//   POSIX    a signal the child has got itself (a terminal's Ctrl-C or Ctrl-\ to
//            the foreground group the child is in) is dropped; SIGINT,
//            SIGQUIT, SIGTERM, SIGHUP, SIGUSR1 and SIGUSR2 are otherwise
//            relayed (sent by a process, a terminal key for a child in another
//            group, a hang-up to the launcher as session leader). The child
//            gets SIGKILL if the launcher dies, and as PID 1 the launcher reaps
//            every orphan. A relayed signal the child may no longer be sent
//            (EPERM) is said on stderr and ends the launcher. A stopped child
//            gets SIGCONT after a signal meant to end it; in the terminal's
//            foreground group the launcher stops and goes on with its child.
//   Windows  a console control handler swallows Ctrl-C and Ctrl-Break until the
//            launcher ends; the console sends them to the child as well. On a
//            console close, logoff or shutdown it goes on waiting until the
//            system ends it.
//
// The child starts with an empty signal mask, SIGCHLD at its default, SIGPIPE
// as the caller had it, every other disposition as the caller left it, and
// (POSIX) PWD set to the absolute path of its working directory.
//
// Windows: CreateProcessW reads the program from the line by its own rules.
// When that started another program than the one an unquoted `Exe` with
// blanks names as a whole, StartedInstead names the one that ran.
// A `WorkingDirectory` whose full path is longer than Windows takes for a
// current directory fails the start before anything runs, unless the program
// is missing (Windows looks for it first).
// A launcher without a console starts the child with CREATE_NO_WINDOW. While
// waiting, the child and all it starts are in a job, from the child's
// creation on, that ends them if the launcher dies; after a normal end the job
// lets them live. If no job can be made or joined, the child runs without one.
// POSIX: the line is split as a Windows C runtime splits its command line
// (SplitCommandLine); a program name without a slash is searched on PATH, one
// with a slash is taken relative to the caller's current directory. A child
// killed by signal N reports 128 + N.
RunOutcome RunChild(const std::wstring& Exe, const std::wstring& CommandLine,
                    const std::wstring& WorkingDirectory, bool Wait, const CallerSettings& Caller);

// How a waited child's end reads when a shell would have said something about
// it (a killing signal, an exception code), as in
// L"was killed by SIGSEGV (Segmentation fault), core dumped" or
// L"ended with exception 0xC0000005 (access violation)"; empty otherwise.
std::wstring DescribeAbnormalEnd(const RunOutcome& Outcome);

// How a waited child's end reads when a shell would have said something about
// it (a killing signal, an exception code), as in
// L"was killed by SIGSEGV (Segmentation fault), core dumped" or
// L"ended with exception 0xC0000005 (access violation)"; empty otherwise.
std::wstring DescribeAbnormalEnd(const RunOutcome& Outcome);

// Called last: writes the status line with `WriteStatusLine` and ends the
// run. POSIX: while the line waits for a reader after a waited child's end,
// SIGTERM, SIGINT and SIGHUP end the launcher (unless the caller ignored or
// blocked them; one relayed while the child ran first gives the reader a few
// seconds when the child handled it); once the line is out, no signal can
// end the launcher with another status. Then a child that died of SIGINT or
// SIGQUIT while waited for ends the launcher by the same signal (without a
// core file), so that a calling shell sees an interrupted job and stops its
// loop, unless the caller ignored that signal or the launcher is PID 1;
// otherwise it returns. Windows: writes the line and returns.
void FinishRun(const RunOutcome& Outcome, bool Waited, const CallerSettings& Caller,
               void (*WriteStatusLine)(ReturnCode));

} // namespace launch
