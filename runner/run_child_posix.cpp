// POSIX runner: plays the part of CreateProcessW, WaitForSingleObject and
// GetExitCodeProcess with posix_spawn and waitpid.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "console.h"
#include "lossless_text.h"
#include "run_child.h"

namespace launch {

namespace {

// The search path execvp uses when PATH is not set.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

// What callers send to stop or poke a job: passed on to the child while the
// launcher waits for it.
constexpr int kRelayedSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};

bool IsIgnored(const CallerSettings& Caller, int Signal) {
  return ((Caller.IgnoredSignals >> Signal) & 1U) != 0;
}

RunFailure FailureFor(int Error, const std::wstring& Context = {}) {
  const auto Code = static_cast<std::uint32_t>(Error);
  return RunFailure{Context + SystemReason(Code), Code, std::nullopt};
}

// What a look at the file `Path` tells before it is run.
struct Candidate {
  bool Exists = false; // something is there
  int Error = 0;       // why it cannot be run; 0 when it can
};

Candidate Examine(const std::string& Path) {
  struct stat Info {};
  if (stat(Path.c_str(), &Info) != 0) {
    return {false, errno};
  }
  if (S_ISDIR(Info.st_mode)) {
    return {true, EISDIR};
  }
  // With the effective ids, as execve will check them.
  if (!S_ISREG(Info.st_mode) || faccessat(AT_FDCWD, Path.c_str(), X_OK, AT_EACCESS) != 0) {
    return {true, EACCES};
  }
  return {true, 0};
}

// Finds `Name` as execvp would: a name with a slash is taken as it is; any other
// is searched in the directories of PATH (an empty entry meaning the current
// directory). A directory that is missing or cannot be searched just does not
// hold the program. A missing program reports ENOENT (ENAMETOOLONG when the
// name cannot be a file name); one found only in forms that cannot be run
// reports why.
int FindProgram(const std::string& Name, std::string& Found) {
  if (Name.empty()) {
    return ENOENT;
  }
  if (Name.find('/') != std::string::npos) {
    Found = Name;
    return Examine(Name).Error;
  }
  const char* Path = std::getenv("PATH");
  const std::string Dirs = Path != nullptr ? Path : kDefaultSearchPath;
  int Error = ENOENT;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Dirs.find(':', Start);
    std::string Candidate = Dirs.substr(Start, End - Start);
    if (!Candidate.empty()) {
      Candidate += '/';
    }
    Candidate += Name;
    const auto [Exists, CandidateError] = Examine(Candidate);
    if (CandidateError == 0) {
      Found = Candidate;
      return 0;
    }
    // Found but it cannot be run: remember why, and keep looking.
    const bool CannotRun = Exists || CandidateError == ELOOP;
    const bool TooLong = CandidateError == ENAMETOOLONG && Error == ENOENT;
    if (CannotRun || TooLong) {
      Error = CandidateError;
    }
    if (End == std::string::npos) {
      return Error;
    }
    Start = End + 1;
  }
}

// The child changes directory before it runs the program, so a relative path
// must be anchored to the caller's directory first.
int MakeAbsolute(std::string& Path) {
  if (!Path.empty() && Path.front() == '/') {
    return 0;
  }
  std::vector<char> Cwd(4096);
  while (getcwd(Cwd.data(), Cwd.size()) == nullptr) {
    if (errno != ERANGE) {
      return errno;
    }
    Cwd.resize(Cwd.size() * 2);
  }
  std::string Dir(Cwd.data());
  if (Dir.back() != '/') {
    Dir += '/'; // but "/" stays "/", not "//"
  }
  Path = Dir + Path;
  return 0;
}

ReturnCode StatusForExecError(int Error) {
  switch (Error) {
  case ENOENT:
  case ENOTDIR:
  case ENAMETOOLONG:
    return kStatusNotFound;
  case EACCES:
  case EPERM:
  case EISDIR:
  case ENOEXEC:
  case ETXTBSY:
  case ELIBBAD:
  case ELOOP:
    return kStatusCannotRun;
  default:
    return kStatusLauncherFailed;
  }
}

// The interpreter named on the "#!" line of `Path`, or "" when it has none.
std::string Interpreter(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    return {};
  }
  char Head[256];
  const ssize_t Got = read(Fd, Head, sizeof Head);
  close(Fd);
  if (Got < 2 || Head[0] != '#' || Head[1] != '!') {
    return {};
  }
  const std::string_view Line(Head + 2, static_cast<std::size_t>(Got) - 2);
  const std::size_t Begin = Line.find_first_not_of(" \t");
  if (Begin == std::string_view::npos) {
    return {};
  }
  return std::string(Line.substr(Begin, Line.find_first_of(" \t\n", Begin) - Begin));
}

// A descriptor for the working directory, opened by the caller so that a bad
// directory is told apart from a program that cannot be run.
int OpenWorkingDirectory(const std::string& Dir, int& Fd) {
  Fd = open(Dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    return errno;
  }
  if (faccessat(Fd, ".", X_OK, AT_EACCESS) != 0) { // fchdir goes by the effective ids
    const int Error = errno;
    close(Fd);
    Fd = -1;
    return Error;
  }
  return 0;
}

void SetDisposition(int Signal, void (*Handler)(int), struct sigaction* Previous) {
  struct sigaction Action {};
  Action.sa_handler = Handler;
  sigemptyset(&Action.sa_mask);
  sigaction(Signal, &Action, Previous);
}

// posix_spawn's attribute and file-action records, released on every path.
class SpawnSettings {
public:
  SpawnSettings() = default;
  ~SpawnSettings() {
    if (HaveActions_) {
      posix_spawn_file_actions_destroy(&Actions_);
    }
    if (HaveAttributes_) {
      posix_spawnattr_destroy(&Attributes_);
    }
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // The child starts in `DirFd` with an empty signal mask, as a new Windows
  // process would, and with `Defaults` back at their default. Returns the
  // first error; the start must not go ahead with only part of this in place.
  int Prepare(int DirFd, const sigset_t& Defaults) {
    int Error = posix_spawnattr_init(&Attributes_);
    HaveAttributes_ = Error == 0;
    if (Error == 0) {
      Error = posix_spawn_file_actions_init(&Actions_);
      HaveActions_ = Error == 0;
    }
    sigset_t Empty;
    sigemptyset(&Empty);
    if (Error == 0) {
      Error = posix_spawnattr_setsigmask(&Attributes_, &Empty);
    }
    if (Error == 0) {
      Error = posix_spawnattr_setsigdefault(&Attributes_, &Defaults);
    }
    if (Error == 0) {
      Error =
          posix_spawnattr_setflags(&Attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    if (Error == 0) {
      Error = posix_spawn_file_actions_addfchdir_np(&Actions_, DirFd);
    }
    if (Error == 0) {
      // Windows starts the child without inheriting any handle; likewise only
      // stdin, stdout and stderr reach it here.
      Error = posix_spawn_file_actions_addclosefrom_np(&Actions_, STDERR_FILENO + 1);
    }
    return Error;
  }

  const posix_spawnattr_t* Attributes() const { return &Attributes_; }
  const posix_spawn_file_actions_t* Actions() const { return &Actions_; }

private:
  posix_spawnattr_t Attributes_{};
  posix_spawn_file_actions_t Actions_{};
  bool HaveAttributes_ = false;
  bool HaveActions_ = false;
};

// The signals held while the launcher waits: SIGCHLD, and every relayed
// signal the caller did not ignore. Held from before the start, a signal that
// arrives before the wait stays pending instead of being lost.
sigset_t HeldSignals(const CallerSettings& Caller) {
  sigset_t Set;
  sigemptyset(&Set);
  sigaddset(&Set, SIGCHLD);
  for (const int Signal : kRelayedSignals) {
    if (!IsIgnored(Caller, Signal)) {
      sigaddset(&Set, Signal);
    }
  }
  return Set;
}

// waitpid, retried when interrupted: the pid once the child has ended, 0 while
// it runs (with WNOHANG), -1 with errno on failure.
pid_t Reap(pid_t Pid, int Options, int& Status) {
  pid_t Result = 0;
  do {
    Result = waitpid(Pid, &Status, Options);
  } while (Result < 0 && errno == EINTR);
  return Result;
}

// The outcome for what Reap returned: the exit code for a normal exit, 128 + N
// for death by signal N, kStillActive for a child still running.
RunOutcome Outcome(pid_t Reaped, int Status) {
  RunOutcome Result;
  Result.Started = true;
  if (Reaped < 0) {
    Result.Code = kStatusLauncherFailed;
    Result.Failure = FailureFor(errno);
  } else if (Reaped == 0) {
    Result.Code = kStillActive;
  } else if (WIFSIGNALED(Status)) {
    Result.KilledBy = WTERMSIG(Status);
    Result.Code = 128 + static_cast<ReturnCode>(Result.KilledBy);
  } else {
    Result.Code = static_cast<ReturnCode>(WEXITSTATUS(Status));
  }
  return Result;
}

// Waits for the child's end. Each held signal that a process sent to the
// launcher (kill, sigqueue) goes on to the child; one the kernel sent, such as
// a terminal's interrupt to its whole foreground group, has reached the child
// already and is dropped.
RunOutcome WaitRelaying(pid_t Pid, const sigset_t& Held) {
  int Status = 0;
  for (;;) {
    siginfo_t Info{};
    const int Signal = sigwaitinfo(&Held, &Info);
    if (Signal < 0 && errno == EINTR) {
      continue;
    }
    if (Signal < 0) {
      return Outcome(Reap(Pid, 0, Status), Status); // cannot relay: just wait
    }
    if (Signal != SIGCHLD) {
      if (Info.si_code <= 0) { // SI_USER, SI_QUEUE, SI_TKILL: sent by a process
        kill(Pid, Signal);
      }
      continue;
    }
    const pid_t Reaped = Reap(Pid, WNOHANG, Status);
    if (Reaped != 0) { // 0: the child only stopped, or someone else sent SIGCHLD
      return Outcome(Reaped, Status);
    }
  }
}

} // namespace

CallerSettings PrepareLauncher() {
  CallerSettings Caller;
  struct sigaction Action {};
  SetDisposition(SIGPIPE, SIG_IGN, &Action);
  if (Action.sa_handler == SIG_IGN) {
    Caller.IgnoredSignals |= std::uint64_t{1} << SIGPIPE;
  }
  for (const int Signal : kRelayedSignals) {
    if (sigaction(Signal, nullptr, &Action) == 0 && Action.sa_handler == SIG_IGN) {
      Caller.IgnoredSignals |= std::uint64_t{1} << Signal;
    }
  }
  return Caller;
}

RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait, const CallerSettings& Caller) {
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

  std::string Program;
  if (const int Error = FindProgram(Args.front(), Program); Error != 0) {
    return StartFailed(StatusForExecError(Error), FailureFor(Error));
  }
  if (const int Error = MakeAbsolute(Program); Error != 0) {
    return StartFailed(kStatusLauncherFailed, FailureFor(Error, L"current directory: "));
  }

  int DirFd = -1;
  if (const int Error = OpenWorkingDirectory(EncodeLossless(WorkingDirectory), DirFd); Error != 0) {
    return StartFailed(kStatusLauncherFailed,
                       FailureFor(Error, L"working directory '" + WorkingDirectory + L"': "));
  }

  std::vector<char*> Argv;
  Argv.reserve(Args.size() + 1);
  for (auto& Arg : Args) {
    Argv.push_back(Arg.data());
  }
  Argv.push_back(nullptr);

  // A caller that leaves SIGCHLD ignored would have the child reaped behind
  // our back, and waitpid would never see its status.
  SetDisposition(SIGCHLD, SIG_DFL, nullptr);
  sigset_t Defaults;
  sigemptyset(&Defaults);
  if (!IsIgnored(Caller, SIGPIPE)) {
    sigaddset(&Defaults, SIGPIPE); // ignored by the launcher, not by the caller
  }
  const sigset_t Held = HeldSignals(Caller);
  if (Wait) {
    sigprocmask(SIG_BLOCK, &Held, nullptr); // until the launcher ends
  }
  pid_t Pid = 0;
  int Error = 0;
  {
    SpawnSettings Settings;
    Error = Settings.Prepare(DirFd, Defaults);
    if (Error != 0) {
      close(DirFd);
      return StartFailed(kStatusLauncherFailed, FailureFor(Error, L"start settings: "));
    }
    Error = posix_spawn(&Pid, Program.c_str(), Settings.Actions(), Settings.Attributes(),
                        Argv.data(), environ);
  }
  close(DirFd);
  if (Error != 0) {
    // The kernel reports a script's missing interpreter as if the script
    // itself were missing; it was found, so say what is wrong with it.
    const std::string Named = Interpreter(Program);
    if (!Named.empty() && StatusForExecError(Error) != kStatusLauncherFailed) {
      return StartFailed(kStatusCannotRun,
                         FailureFor(Error, L"bad interpreter '" + DecodeLossless(Named) + L"': "));
    }
    return StartFailed(StatusForExecError(Error), FailureFor(Error));
  }
  int Status = 0;
  return Wait ? WaitRelaying(Pid, Held) : Outcome(Reap(Pid, WNOHANG, Status), Status);
}

void FinishRun(const RunOutcome& Outcome, bool Waited) {
  const int Signal = Outcome.KilledBy;
  if (!Waited || (Signal != SIGINT && Signal != SIGQUIT)) {
    return;
  }
  // A shell tells an interrupted job from one that handled the interrupt by
  // how it ended: an exit of 130 would let its loop go on. No core file: the
  // launcher itself did nothing wrong (not dumpable holds for every core
  // pattern, a pipe included).
  prctl(PR_SET_DUMPABLE, 0);
  SetDisposition(Signal, SIG_DFL, nullptr);
  sigset_t Only;
  sigemptyset(&Only);
  sigaddset(&Only, Signal);
  raise(Signal);
  sigprocmask(SIG_UNBLOCK, &Only, nullptr); // the pending signal ends the launcher here
}

} // namespace launch
