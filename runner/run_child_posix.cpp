// POSIX runner: plays the part of CreateProcessW, WaitForSingleObject and
// GetExitCodeProcess with posix_spawn and waitpid.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "lossless_text.h"
#include "run_child.h"

namespace launch {

namespace {

// The search path execvp uses when PATH is not set.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

std::wstring SystemReason(int Error) {
  return DecodeLossless(std::strerror(Error));
}

RunOutcome StartFailed(ReturnCode Code, int Error, const std::wstring& Context = {}) {
  RunOutcome Outcome;
  Outcome.Code = Code;
  Outcome.Failure = RunFailure{Context + SystemReason(Error), static_cast<std::uint32_t>(Error)};
  return Outcome;
}

// Why `Path` cannot be run, or 0 when it is a regular file we may execute.
int ExecutableError(const std::string& Path) {
  struct stat Info {};
  if (stat(Path.c_str(), &Info) != 0) {
    return errno;
  }
  if (S_ISDIR(Info.st_mode)) {
    return EISDIR;
  }
  if (!S_ISREG(Info.st_mode) || access(Path.c_str(), X_OK) != 0) {
    return EACCES;
  }
  return 0;
}

bool IsMissing(int Error) {
  return Error == ENOENT || Error == ENOTDIR;
}

// Finds `Name` as execvp would: a name with a slash is taken as it is; any other
// is searched in the directories of PATH (an empty entry meaning the current
// directory). A missing program reports ENOENT; one that was found only in
// forms that cannot be run reports why.
int FindProgram(const std::string& Name, std::string& Found) {
  if (Name.empty()) {
    return ENOENT;
  }
  if (Name.find('/') != std::string::npos) {
    Found = Name;
    return ExecutableError(Name);
  }
  const char* Path = std::getenv("PATH");
  const std::string Dirs = Path != nullptr ? Path : kDefaultSearchPath;
  int Error = ENOENT;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Dirs.find(':', Start);
    const std::string Dir = Dirs.substr(Start, End - Start);
    std::string Candidate = Dir;
    if (!Candidate.empty()) {
      Candidate += '/';
    }
    Candidate += Name;
    const int CandidateError = ExecutableError(Candidate);
    if (CandidateError == 0) {
      Found = Candidate;
      return 0;
    }
    if (!IsMissing(CandidateError)) {
      Error = CandidateError; // found, but not runnable: keep looking
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
  Path = std::string(Cwd.data()) + "/" + Path;
  return 0;
}

ReturnCode StatusForExecError(int Error) {
  if (IsMissing(Error)) {
    return kStatusNotFound;
  }
  switch (Error) {
  case EACCES:
  case EPERM:
  case EISDIR:
  case ENOEXEC:
  case ETXTBSY:
  case ELIBBAD:
    return kStatusCannotRun;
  default:
    return kStatusLauncherFailed;
  }
}

// A descriptor for the working directory, opened by the caller so that a bad
// directory is told apart from a program that cannot be run.
int OpenWorkingDirectory(const std::string& Dir, int& Fd) {
  Fd = open(Dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    return errno;
  }
  if (faccessat(Fd, ".", X_OK, 0) != 0) {
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

// How the caller left SIGPIPE, before PrepareLauncher ignored it.
struct sigaction CallerPipeAction {};

// While the launcher waits, a Ctrl-C at the terminal (SIGINT, SIGQUIT to the
// whole foreground group) is the child's to act on: the launcher ignores both
// so that it lives to report how the child ended. Restored on destruction.
class InterruptShield {
public:
  explicit InterruptShield(bool Active) : Active_(Active) {
    if (Active_) {
      SetDisposition(SIGINT, SIG_IGN, &CallerInt_);
      SetDisposition(SIGQUIT, SIG_IGN, &CallerQuit_);
    }
  }
  ~InterruptShield() {
    if (Active_) {
      sigaction(SIGINT, &CallerInt_, nullptr);
      sigaction(SIGQUIT, &CallerQuit_, nullptr);
    }
  }
  InterruptShield(const InterruptShield&) = delete;
  InterruptShield& operator=(const InterruptShield&) = delete;

  // The signals the child must get back at their default: those the launcher
  // ignores for itself while the caller had left them at the default.
  sigset_t ChildDefaults() const {
    sigset_t Set;
    sigemptyset(&Set);
    const auto AddIfDefault = [&](int Signal, const struct sigaction& Caller) {
      if (Caller.sa_handler == SIG_DFL) {
        sigaddset(&Set, Signal);
      }
    };
    AddIfDefault(SIGPIPE, CallerPipeAction);
    if (Active_) {
      AddIfDefault(SIGINT, CallerInt_);
      AddIfDefault(SIGQUIT, CallerQuit_);
    }
    return Set;
  }

private:
  bool Active_;
  struct sigaction CallerInt_ {};
  struct sigaction CallerQuit_ {};
};

// posix_spawn's attribute and file-action records, released on every path.
class SpawnSettings {
public:
  SpawnSettings(int DirFd, const sigset_t& DefaultSignals) {
    posix_spawnattr_init(&Attributes_);
    posix_spawnattr_setsigdefault(&Attributes_, &DefaultSignals);
    posix_spawnattr_setflags(&Attributes_, POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_init(&Actions_);
    posix_spawn_file_actions_addfchdir_np(&Actions_, DirFd);
    // Windows starts the child without inheriting any handle; likewise only
    // stdin, stdout and stderr reach it here.
    posix_spawn_file_actions_addclosefrom_np(&Actions_, STDERR_FILENO + 1);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&Actions_);
    posix_spawnattr_destroy(&Attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  const posix_spawnattr_t* Attributes() const { return &Attributes_; }
  const posix_spawn_file_actions_t* Actions() const { return &Actions_; }

private:
  posix_spawnattr_t Attributes_{};
  posix_spawn_file_actions_t Actions_{};
};

// Exit code of a wait status: its code for a normal exit, 128 + N for death by
// signal N.
ReturnCode CodeFromStatus(int Status) {
  if (WIFSIGNALED(Status)) {
    return 128 + static_cast<ReturnCode>(WTERMSIG(Status));
  }
  return static_cast<ReturnCode>(WEXITSTATUS(Status));
}

RunOutcome QueryExitCode(pid_t Pid, bool Wait) {
  RunOutcome Outcome;
  Outcome.Started = true;
  int Status = 0;
  pid_t Result = 0;
  do {
    Result = waitpid(Pid, &Status, Wait ? 0 : WNOHANG);
  } while (Result < 0 && errno == EINTR);
  if (Result < 0) {
    const int Error = errno;
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = RunFailure{SystemReason(Error), static_cast<std::uint32_t>(Error)};
  } else if (Result == 0) {
    Outcome.Code = kStillActive;
  } else {
    Outcome.Code = CodeFromStatus(Status);
  }
  return Outcome;
}

} // namespace

RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  std::vector<std::string> Args;
  for (const auto& Part : SplitCommandLine(CommandLine)) {
    Args.push_back(EncodeLossless(Part));
  }

  std::string Program;
  if (const int Error = FindProgram(Args.front(), Program); Error != 0) {
    return StartFailed(StatusForExecError(Error), Error);
  }
  if (const int Error = MakeAbsolute(Program); Error != 0) {
    return StartFailed(kStatusLauncherFailed, Error, L"current directory: ");
  }

  int DirFd = -1;
  if (const int Error = OpenWorkingDirectory(EncodeLossless(WorkingDirectory), DirFd); Error != 0) {
    return StartFailed(kStatusLauncherFailed, Error,
                       L"working directory '" + WorkingDirectory + L"': ");
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
  const InterruptShield Shield(Wait);
  pid_t Pid = 0;
  int Error = 0;
  {
    const SpawnSettings Settings(DirFd, Shield.ChildDefaults());
    Error = posix_spawn(&Pid, Program.c_str(), Settings.Actions(), Settings.Attributes(),
                        Argv.data(), environ);
  }
  close(DirFd);
  if (Error != 0) {
    return StartFailed(StatusForExecError(Error), Error);
  }
  return QueryExitCode(Pid, Wait);
}

void PrepareLauncher() {
  SetDisposition(SIGPIPE, SIG_IGN, &CallerPipeAction);
}

} // namespace launch
