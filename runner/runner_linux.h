// The Linux runner's parts, one concern a file: finding the program and
// telling why it could not run (program_linux.cpp), the child's environment
// (environment_linux.cpp), the child's start (child_start_linux.cpp), waiting
// and relaying signals (wait_linux.cpp) and the end of the run
// (run_end_linux.cpp). RunChild (run_child_linux.cpp) puts them together.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

#include "run_child.h"
#include "standard_error.h"

namespace launch {

// What callers send to stop or poke a job: passed on to the child while the
// launcher waits for it.
inline constexpr int kRelayedSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};

inline bool HasSignal(std::uint64_t Bits, int Signal) {
  return ((Bits >> Signal) & 1U) != 0;
}

inline bool IsIgnored(const CallerSettings& Caller, int Signal) {
  return HasSignal(Caller.IgnoredSignals, Signal);
}

// What a supervisor, a terminal or a hang-up sends to end a job.
inline constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

inline bool IsTermination(int Signal) {
  for (const int Termination : kTerminationSignals) {
    if (Signal == Termination) {
      return true;
    }
  }
  return false;
}

// Sets `Handler` for `Signal`, with no flags and an empty mask
// (run_child_linux.cpp).
void SetDisposition(int Signal, void (*Handler)(int));

// --- The program (program_linux.cpp)

// Finds `Name` as execvp would: a name with a slash as it is, any other on
// PATH. 0 with `Found` set, or why it cannot be run.
int FindProgram(const std::string& Name, std::string& Found);

// Where the child finds its program: `Path`, absolute when it fits the
// kernel's limit; otherwise relative to the caller's directory, which `DirFd`
// (close-on-exec) then holds, unless the child runs in that very directory.
struct ProgramPath {
  std::string Path;
  int DirFd = -1;
};

// Anchors `Found` to the caller's directory `Cwd` (read by the caller when
// `Found` is relative). 0, or why the caller's directory cannot be held.
int AnchorProgram(const std::string& Found, const std::string& Cwd, const std::string& Dir,
                  ProgramPath& Program);

ReturnCode StatusForExecError(int Error);

// The status and reason for a program that the kernel refused with `Error`.
RunOutcome ExecFailure(int Error, const ProgramPath& Program);

// --- The working directory and the environment (environment_linux.cpp)

// A descriptor for the working directory, opened by the launcher so that a
// bad directory is told apart from a program that cannot be run. 0, or why not.
int OpenWorkingDirectory(const std::string& Dir, int& Fd);

// The caller's current directory, into `Cwd`; 0, or why it cannot be read.
int CurrentDirectory(std::string& Cwd);

// What PWD says for the directory `Dir`, anchored to the caller's directory
// `Cwd` when relative.
std::string ChildPwd(const std::string& Dir, const std::string& Cwd);

// The launcher's environment entries as they are, with `PwdEntry` in place of
// its own PWD.
std::vector<char*> ChildEnvironment(std::string& PwdEntry);

// --- The start (child_start_linux.cpp)

// The start needs a few descriptors of its own (the working directory, the
// failure pipe). Reads the caller's limit into `Caller` and raises the
// launcher's soft limit by that many where the hard limit allows it; true
// when it did, and the child is then to get `Caller` back.
bool MakeRoomForTheStart(rlimit& Caller);

// Everything the child needs between its start and the exec, built before it
// starts: it may share the launcher's memory until the exec, so it neither
// allocates nor returns into the launcher's code.
struct ChildStart {
  const char* Program = nullptr;
  int ProgramDirFd = -1; // resolve Program from here; -1: from the working directory
  char* const* Argv = nullptr;
  char* const* Envp = nullptr;
  int DirFd = -1;     // the working directory
  pid_t Launcher = 0; // the launcher's pid, read before the start
  bool DiesWithLauncher = false;
  bool DefaultSigpipe = false; // ignored by the launcher but not by its caller
  int ReportFd = -1;           // where the child says why it could not run the program
  // The caller's descriptor limit, given back to the child when the launcher
  // raised its own for the start.
  bool RestoreDescriptorLimit = false;
  rlimit DescriptorLimit{};
};

// The step of the start that failed: the launcher's own (the child could not
// be made or set up, or could not enter its directory) or the program's (the
// exec), which alone goes through the exec-error map.
enum class StartStep { Create, SetUp, Directory, Exec };

// Why the child could not run its program, as it reports it.
struct SpawnFailure {
  int Error = 0;
  StartStep Step = StartStep::Exec;
};

// Starts the child; its pid, or 0 with `Failure` set.
pid_t Spawn(ChildStart& Start, SpawnFailure& Failure);

// --- Waiting (wait_linux.cpp)

// The signals held while the launcher waits: SIGCHLD, and every relayed
// signal the caller did not ignore.
sigset_t HeldSignals(const CallerSettings& Caller);

struct WaitResult {
  RunOutcome Outcome;
  int Termination = 0; // the last SIGTERM, SIGINT or SIGHUP relayed to the child
};

// Waits for the child's end, passing on each held signal it has not got
// itself. `Early` holds the signals that were pending when the child started:
// those are relayed even when the kernel sent them.
WaitResult WaitRelaying(pid_t Pid, const sigset_t& Held, const sigset_t& Early,
                        const CallerSettings& Caller);

// How the child is doing without waiting for it.
RunOutcome Query(pid_t Pid);

// --- The end of the run (run_end_linux.cpp)

// The relayed signal `Signal` could not reach the child (`Error`): says so,
// then ends the launcher by that signal, as it would have ended without the
// relay; it returns only when the caller blocked that signal, which would not
// have ended it either.
void ReportUnrelayed(int Signal, int Error, const CallerSettings& Caller);

// Keeps, for the end of the run, the last termination signal relayed while
// the child ran.
void NoteRelayedTermination(int Signal);

} // namespace launch
