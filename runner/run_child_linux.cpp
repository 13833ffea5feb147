// Linux runner: plays the part of CreateProcessW, WaitForSingleObject and
// GetExitCodeProcess with clone, execve and waitpid. This file puts the steps
// together; each has a file of its own (runner_linux.h).
#include <cerrno>
#include <csignal>
#include <string>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "lossless_text.h"
#include "run_child.h"
#include "runner_linux.h"
#include "system_error.h"

namespace launch {

void SetDisposition(int Signal, void (*Handler)(int)) {
  struct sigaction Action {};
  Action.sa_handler = Handler;
  sigemptyset(&Action.sa_mask);
  sigaction(Signal, &Action, nullptr);
}

CallerSettings PrepareLauncher() {
  CallerSettings Caller;
  struct sigaction Action {};
  sigaction(SIGPIPE, nullptr, &Action);
  if (Action.sa_handler == SIG_IGN) {
    Caller.IgnoredSignals |= std::uint64_t{1} << SIGPIPE;
  }
  SetDisposition(SIGPIPE, SIG_IGN);
  for (const int Signal : kRelayedSignals) {
    if (sigaction(Signal, nullptr, &Action) == 0 && Action.sa_handler == SIG_IGN) {
      Caller.IgnoredSignals |= std::uint64_t{1} << Signal;
    }
  }
  sigset_t Blocked;
  sigprocmask(SIG_BLOCK, nullptr, &Blocked);
  for (int Signal = 1; Signal < 64; ++Signal) {
    if (sigismember(&Blocked, Signal) == 1) {
      Caller.BlockedSignals |= std::uint64_t{1} << Signal;
    }
  }
  return Caller;
}

namespace {

// Why the start failed, by the step that failed: only the exec is the
// program's, and only its error goes through the exec-error map (126, 127).
// The others are the launcher's own failure (125), named by their step.
template <typename DirectoryReason, typename OwnReason>
RunOutcome StartRefused(const SpawnFailure& Failure, const ProgramPath& Program,
                        const DirectoryReason& Directory, const OwnReason& Own) {
  RunOutcome Refused;
  Refused.Code = kStatusLauncherFailed;
  switch (Failure.Step) {
  case StartStep::Exec:
    return ExecFailure(Failure.Error, Program);
  case StartStep::Directory:
    Refused.Failure = Directory(Failure.Error);
    break;
  case StartStep::Create:
    Refused.Failure = Own(Failure.Error, L"cannot create the child process: ");
    break;
  case StartStep::SetUp:
    Refused.Failure = Own(Failure.Error, L"cannot set up the child process: ");
    break;
  }
  return Refused;
}

} // namespace

RunOutcome RunChild(const std::wstring& /*Exe*/, const std::wstring& CommandLine,
                    const std::wstring& WorkingDirectory, bool Wait, const CallerSettings& Caller) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  std::vector<std::string> Args;
  for (const auto& Part : SplitCommandLine(CommandLine)) {
    Args.push_back(EncodeLossless(Part));
  }
  // A failed start names the program as it was read from the line, which is
  // not `Exe` when `Exe` holds a blank or a quote.
  const auto StartFailed = [&Args](ReturnCode Code, RunFailure Failure) {
    RunOutcome Result;
    Result.Code = Code;
    Result.Failure = std::move(Failure);
    Result.Failure->Program = DecodeLossless(Args.front());
    return Result;
  };

  std::string Found;
  if (const int Error = FindProgram(Args.front(), Found); Error != 0) {
    return StartFailed(StatusForExecError(Error), FailureFor(Error));
  }
  rlimit CallerLimit{};
  const bool Raised = MakeRoomForTheStart(CallerLimit);
  // A step of the launcher's own that failed. Out of descriptors, it names
  // the limit that left none for the start, not the step that met it.
  const auto OwnFailure = [&CallerLimit](int Error, std::wstring Context) {
    if (Error == EMFILE) {
      Context = L"the descriptor limit (" + std::to_wstring(CallerLimit.rlim_cur) +
                L") leaves no room for the start: ";
    }
    return FailureFor(Error, std::move(Context));
  };
  const std::string Dir = EncodeLossless(WorkingDirectory);
  std::string Cwd; // read only when something is relative to it
  ProgramPath Program;
  const bool Relative = Found.front() != '/' || Dir.empty() || Dir.front() != '/';
  if (const int Error = Relative ? CurrentDirectory(Cwd) : 0; Error != 0) {
    return StartFailed(kStatusLauncherFailed, OwnFailure(Error, L"current directory: "));
  }
  if (const int Error = AnchorProgram(Found, Cwd, Dir, Program); Error != 0) {
    return StartFailed(kStatusLauncherFailed, OwnFailure(Error, L"current directory: "));
  }
  const auto DirectoryFailure = [&WorkingDirectory, &OwnFailure](int Error) {
    return OwnFailure(Error, L"working directory '" + WorkingDirectory + L"': ");
  };
  int DirFd = -1;
  if (const int Error = OpenWorkingDirectory(Dir, DirFd); Error != 0) {
    return StartFailed(kStatusLauncherFailed, DirectoryFailure(Error));
  }

  std::vector<char*> Argv;
  Argv.reserve(Args.size() + 1);
  for (auto& Arg : Args) {
    Argv.push_back(Arg.data());
  }
  Argv.push_back(nullptr);
  std::string PwdEntry = "PWD=" + ChildPwd(Dir, Cwd);
  auto Envp = ChildEnvironment(PwdEntry);
  ChildStart Start;
  Start.Program = Program.Path.c_str();
  Start.ProgramDirFd = Program.DirFd;
  Start.Argv = Argv.data();
  Start.Envp = Envp.data();
  Start.DirFd = DirFd;
  Start.Launcher = getpid();
  Start.DiesWithLauncher = Wait;
  Start.DefaultSigpipe = !IsIgnored(Caller, SIGPIPE);
  Start.RestoreDescriptorLimit = Raised;
  Start.DescriptorLimit = CallerLimit;

  // A caller that leaves SIGCHLD ignored would have the child reaped behind
  // our back, and waitpid would never see its status.
  SetDisposition(SIGCHLD, SIG_DFL);
  // Held from before the start, a signal that arrives before the wait stays
  // pending instead of being lost.
  const sigset_t Held = HeldSignals(Caller);
  if (Wait) {
    sigprocmask(SIG_BLOCK, &Held, nullptr);
  }
  SpawnFailure Failure;
  const pid_t Pid = Spawn(Start, Failure);
  sigset_t Early; // what came before the child was there to get it
  sigpending(&Early);
  close(DirFd);
  RunOutcome Refused; // read through the program's directory, before it is closed
  if (Pid == 0) {
    Refused = StartRefused(Failure, Program, DirectoryFailure, OwnFailure);
  }
  if (Program.DirFd >= 0) {
    close(Program.DirFd);
  }
  if (Pid == 0) {
    return StartFailed(Refused.Code, std::move(*Refused.Failure));
  }
  if (!Wait) {
    // Read before anything is written: a line that waits for stderr must not
    // turn a child still running into one that has ended.
    RunOutcome Running = Query(Pid);
    if (getpid() == 1) {
      WriteNotice("warning: as PID 1, launch takes its child along when it exits");
    }
    return Running;
  }
  const WaitResult Ended = WaitRelaying(Pid, Held, Early, Caller);
  NoteRelayedTermination(Ended.Termination);
  return Ended.Outcome;
}

} // namespace launch
