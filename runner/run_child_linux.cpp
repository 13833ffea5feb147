// Linux runner: plays the part of CreateProcessW, WaitForSingleObject and
// GetExitCodeProcess with clone, execve and waitpid. This file puts the steps
// together; each has a file of its own (runner_linux.h).
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
  const std::string Dir = EncodeLossless(WorkingDirectory);
  std::string Cwd; // read only when something is relative to it
  ProgramPath Program;
  const bool Relative = Found.front() != '/' || Dir.empty() || Dir.front() != '/';
  if (const int Error = Relative ? CurrentDirectory(Cwd) : 0; Error != 0) {
    return StartFailed(kStatusLauncherFailed, FailureFor(Error, L"current directory: "));
  }
  if (const int Error = AnchorProgram(Found, Cwd, Dir, Program); Error != 0) {
    return StartFailed(kStatusLauncherFailed, FailureFor(Error, L"current directory: "));
  }
  const auto DirectoryFailure = [&WorkingDirectory](int Error) {
    return FailureFor(Error, L"working directory '" + WorkingDirectory + L"': ");
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

  // A caller that leaves SIGCHLD ignored would have the child reaped behind
  // our back, and waitpid would never see its status.
  SetDisposition(SIGCHLD, SIG_DFL);
  // Held from before the start, a signal that arrives before the wait stays
  // pending instead of being lost.
  const sigset_t Held = HeldSignals(Caller);
  if (Wait) {
    sigprocmask(SIG_BLOCK, &Held, nullptr);
  }
  StartFailure Failure;
  const pid_t Pid = Spawn(Start, Failure);
  sigset_t Early; // what came before the child was there to get it
  sigpending(&Early);
  close(DirFd);
  RunOutcome Refused; // read through the program's directory, before it is closed
  if (Pid == 0) {
    Refused = Failure.DirectoryFailed
                  ? RunOutcome{false, kStatusLauncherFailed, DirectoryFailure(Failure.Error), 0}
                  : ExecFailure(Failure.Error, Program);
  }
  if (Program.DirFd >= 0) {
    close(Program.DirFd);
  }
  if (Pid == 0) {
    return StartFailed(Refused.Code, std::move(*Refused.Failure));
  }
  if (!Wait) {
    if (getpid() == 1) {
      WriteNotice("warning: as PID 1, launch takes its child along when it exits");
    }
    return Query(Pid);
  }
  const WaitResult Ended = WaitRelaying(Pid, Held, Early, Caller);
  NoteRelayedStop(Ended.Stop);
  return Ended.Outcome;
}

} // namespace launch
