// Linux runner: plays the part of CreateProcessW, WaitForSingleObject and
// GetExitCodeProcess with clone, execve and waitpid.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "command_line.h"
#include "lossless_text.h"
#include "run_child.h"
#include "system_error.h"

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

// What a look at the file `Path` tells before it is run.
struct Examination {
  bool Exists = false; // something is there
  int Error = 0;       // why it cannot be run; 0 when it can
};

Examination Examine(const std::string& Path) {
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
  const char* SearchPath = std::getenv("PATH");
  const std::string Dirs = SearchPath != nullptr ? SearchPath : kDefaultSearchPath;
  int Error = ENOENT;
  std::size_t Start = 0;
  for (;;) {
    const std::size_t End = Dirs.find(':', Start);
    std::string Path = Dirs.substr(Start, End - Start);
    if (!Path.empty()) {
      Path += '/';
    }
    Path += Name;
    const auto [Exists, PathError] = Examine(Path);
    if (PathError == 0) {
      Found = Path;
      return 0;
    }
    // Found but it cannot be run: remember why, and keep looking.
    const bool CannotRun = Exists || PathError == ELOOP;
    const bool TooLong = PathError == ENAMETOOLONG && Error == ENOENT;
    if (CannotRun || TooLong) {
      Error = PathError;
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
  case E2BIG: // found, but its arguments and environment cannot be handed over
    return kStatusCannotRun;
  default:
    return kStatusLauncherFailed;
  }
}

// The first `Size` bytes of the file `Fd` from `Offset`; false when they are not all there.
bool ReadAt(int Fd, void* Buffer, std::size_t Size, off_t Offset) {
  return pread(Fd, Buffer, Size, Offset) == static_cast<ssize_t>(Size);
}

// The loader an ELF program asks for (PT_INTERP), or "" when it names none.
template <typename Header, typename ProgramHeader> std::string ElfLoader(int Fd) {
  Header File{};
  if (!ReadAt(Fd, &File, sizeof File, 0) || File.e_phentsize != sizeof(ProgramHeader)) {
    return {};
  }
  for (unsigned I = 0; I < File.e_phnum; ++I) {
    ProgramHeader Segment{};
    const auto At = static_cast<off_t>(File.e_phoff + I * sizeof Segment);
    if (!ReadAt(Fd, &Segment, sizeof Segment, At)) {
      return {};
    }
    if (Segment.p_type == PT_INTERP && Segment.p_filesz > 1 && Segment.p_filesz <= 4096) {
      std::string Path(Segment.p_filesz, '\0');
      if (!ReadAt(Fd, Path.data(), Path.size(), static_cast<off_t>(Segment.p_offset))) {
        return {};
      }
      return Path.substr(0, Path.find('\0'));
    }
  }
  return {};
}

// The interpreter that `Path` needs: the one on its "#!" line, or the loader
// an ELF program names; "" when it names none.
std::string Interpreter(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    return {};
  }
  char Head[256];
  const ssize_t Got = read(Fd, Head, sizeof Head);
  std::string Named;
  if (Got >= EI_NIDENT && std::memcmp(Head, ELFMAG, SELFMAG) == 0) {
    Named = Head[EI_CLASS] == ELFCLASS64 ? ElfLoader<Elf64_Ehdr, Elf64_Phdr>(Fd)
                                         : ElfLoader<Elf32_Ehdr, Elf32_Phdr>(Fd);
  } else if (Got >= 2 && Head[0] == '#' && Head[1] == '!') {
    const std::string_view Line(Head + 2, static_cast<std::size_t>(Got) - 2);
    const std::size_t Begin = Line.find_first_not_of(" \t");
    if (Begin != std::string_view::npos) {
      Named = Line.substr(Begin, Line.find_first_of(" \t\n", Begin) - Begin);
    }
  }
  close(Fd);
  return Named;
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

sigset_t SignalSet(std::uint64_t Bits) {
  sigset_t Set;
  sigemptyset(&Set);
  for (int Signal = 1; Signal < 64; ++Signal) {
    if (((Bits >> Signal) & 1U) != 0) {
      sigaddset(&Set, Signal);
    }
  }
  return Set;
}

// What PWD says for the absolute directory `Dir`: a shell trusts it (dash's
// `cd ..` goes by it), so it holds no "." or ".." and no doubled or trailing
// slash. `Dir` as given when it has no such part, else its real path.
std::string CleanPwd(const std::string& Dir) {
  std::string Clean;
  for (std::size_t Start = 0; Start < Dir.size();) {
    const std::size_t End = std::min(Dir.find('/', Start), Dir.size());
    const std::string_view Part(Dir.data() + Start, End - Start);
    if (Part == "." || Part == "..") {
      char* Real = realpath(Dir.c_str(), nullptr);
      std::string Resolved = Real != nullptr ? Real : Dir;
      std::free(Real);
      return Resolved;
    }
    if (!Part.empty()) {
      Clean.append("/").append(Part);
    }
    Start = End + 1;
  }
  return Clean.empty() ? "/" : Clean;
}

// The environment the child gets: the launcher's entries as they are, and
// `PwdEntry` ("PWD=<dir>") naming the directory the child really starts in
// (a Makefile's $(PWD) reads it) in place of the launcher's own.
std::vector<char*> ChildEnvironment(std::string& PwdEntry) {
  std::vector<char*> Env;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    if (std::strncmp(*Entry, "PWD=", 4) != 0) {
      Env.push_back(*Entry);
    }
  }
  Env.push_back(PwdEntry.data());
  Env.push_back(nullptr);
  return Env;
}

// Everything the child needs between its start and the exec, built before it
// starts: it shares the launcher's memory until the exec, so it may neither
// allocate nor return into the launcher's code.
struct ChildStart {
  const char* Program = nullptr;
  char* const* Argv = nullptr;
  char* const* Envp = nullptr;
  int DirFd = -1;
  pid_t Launcher = 0; // the launcher's pid, read before the start
  bool DiesWithLauncher = false;
  sigset_t Defaults{}; // ignored by the launcher but not by its caller
  int Error = 0;       // set by the child when it cannot run the program
  bool DirectoryFailed = false;
};

// Descriptors 3 and up, closed in the child: Windows starts a child without
// inheriting any handle; likewise only stdin, stdout and stderr reach it here.
void CloseInherited() {
  if (close_range(STDERR_FILENO + 1, ~0U, 0) == 0) {
    return;
  }
  const long Max = sysconf(_SC_OPEN_MAX); // kernels before 5.9
  for (long Fd = STDERR_FILENO + 1; Fd < Max; ++Fd) {
    close(static_cast<int>(Fd));
  }
}

// The child, from its start to the exec. Every signal is blocked on entry, so
// no handler of the launcher's can run on the memory the two share.
__attribute__((no_sanitize("address"))) int StartChild(void* Argument) {
  auto& Start = *static_cast<ChildStart*>(Argument);
  struct sigaction Default {};
  Default.sa_handler = SIG_DFL;
  for (int Signal = 1; Signal < NSIG; ++Signal) {
    if (sigismember(&Start.Defaults, Signal) == 1) {
      sigaction(Signal, &Default, nullptr);
    }
  }
  if (Start.DiesWithLauncher) {
    // SIGKILL, the one signal the launcher cannot catch, would otherwise leave
    // the child running. If the launcher died before this was set, the child
    // now has another parent: end as the signal would have ended it.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
      Start.Error = errno;
      _exit(127);
    }
    if (getppid() != Start.Launcher) {
      kill(getpid(), SIGKILL); // not raise(): it reads the launcher's thread id
    }
  }
  if (fchdir(Start.DirFd) != 0) {
    Start.Error = errno;
    Start.DirectoryFailed = true;
    _exit(127);
  }
  CloseInherited();
  sigset_t Empty; // a new Windows process has no signal blocked either
  sigemptyset(&Empty);
  sigprocmask(SIG_SETMASK, &Empty, nullptr);
  execve(Start.Program, Start.Argv, Start.Envp);
  Start.Error = errno;
  _exit(127);
}

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

// How a child ended, as waitpid told it.
struct Ended {
  pid_t Pid = 0;  // the child's pid; 0 while it runs (WNOHANG); -1 on failure
  int Status = 0; // waitpid's status, when Pid is the child's
  int Error = 0;  // errno, when Pid is -1
};

// waitpid, retried when interrupted.
Ended Reap(pid_t Pid, int Options) {
  Ended Result;
  do {
    Result.Pid = waitpid(Pid, &Result.Status, Options);
  } while (Result.Pid < 0 && errno == EINTR);
  Result.Error = Result.Pid < 0 ? errno : 0;
  return Result;
}

// A PID 1 inherits every orphan of its namespace: each one that has ended is
// reaped, so that none stays a zombie; only the child's status is kept.
Ended ReapChild(pid_t Pid) {
  if (getpid() == 1) {
    for (Ended Any = Reap(-1, WNOHANG); Any.Pid > 0; Any = Reap(-1, WNOHANG)) {
      if (Any.Pid == Pid) {
        return Any;
      }
    }
  }
  return Reap(Pid, WNOHANG);
}

// The outcome for how the child ended: the exit code for a normal exit,
// 128 + N for death by signal N, kStillActive for a child still running.
RunOutcome Outcome(const Ended& Child) {
  RunOutcome Result;
  Result.Started = true;
  if (Child.Pid < 0) {
    Result.Code = kStatusLauncherFailed;
    Result.Failure = FailureFor(Child.Error);
  } else if (Child.Pid == 0) {
    Result.Code = kStillActive;
  } else if (WIFSIGNALED(Child.Status)) {
    Result.KilledBy = WTERMSIG(Child.Status);
    Result.Code = 128 + static_cast<ReturnCode>(Result.KilledBy);
  } else {
    Result.Code = static_cast<ReturnCode>(WEXITSTATUS(Child.Status));
  }
  return Result;
}

// True when a signal the launcher got has reached the child as well. A
// process's signal (kill, sigqueue) was meant for the launcher alone. The
// kernel sends a terminal's Ctrl-C and Ctrl-\ to the whole foreground group,
// which holds the child unless it moved to a group of its own (setsid,
// timeout); and a terminal's hang-up to the session leader alone.
bool ReachedChildToo(const siginfo_t& Info, pid_t Pid) {
  if (Info.si_code <= 0) { // SI_USER, SI_QUEUE, SI_TKILL
    return false;
  }
  if (Info.si_signo == SIGHUP && getsid(0) == getpid()) {
    return false;
  }
  return getpgid(Pid) == getpgrp();
}

// Waits for the child's end, passing on each held signal the child has not
// got itself. `Stop` is set to the last SIGTERM, SIGINT or SIGHUP that came.
RunOutcome WaitRelaying(pid_t Pid, const sigset_t& Held, int& Stop) {
  for (;;) {
    siginfo_t Info{};
    const int Signal = sigwaitinfo(&Held, &Info);
    if (Signal < 0 && errno == EINTR) {
      continue;
    }
    if (Signal < 0) {
      return Outcome(Reap(Pid, 0)); // cannot relay: just wait
    }
    if (Signal == SIGTERM || Signal == SIGINT || Signal == SIGHUP) {
      Stop = Signal;
    }
    if (Signal != SIGCHLD) {
      if (!ReachedChildToo(Info, Pid)) {
        kill(Pid, Signal);
      }
      continue;
    }
    const Ended Child = ReapChild(Pid);
    if (Child.Pid != 0) { // 0: the child only stopped or went on, or an orphan ended
      return Outcome(Child);
    }
  }
}

// A PID 1 is not ended by a signal left at its default action.
void EndAsPidOne(int Signal) {
  _exit(128 + Signal);
}

// Once the child has ended, the launcher has only its status line left to
// write; if a reader leaves that stuck, SIGTERM, SIGINT and SIGHUP must still
// end it, as they would end any program (unless the caller ignored or blocked
// them). One of them that came while the child ran (`Stop`) was meant to end
// the launcher as well: if the status line cannot go out at once, it does.
void YieldToStopSignals(const CallerSettings& Caller, int Stop) {
  sigset_t Yielding;
  sigemptyset(&Yielding);
  for (const int Signal : {SIGTERM, SIGINT, SIGHUP}) {
    if (!IsIgnored(Caller, Signal) && ((Caller.BlockedSignals >> Signal) & 1U) == 0) {
      sigaddset(&Yielding, Signal);
      if (getpid() == 1) {
        SetDisposition(Signal, EndAsPidOne, nullptr);
      }
    }
  }
  sigprocmask(SIG_UNBLOCK, &Yielding, nullptr);
  pollfd Report{STDOUT_FILENO, POLLOUT, 0};
  if (Stop != 0 && sigismember(&Yielding, Stop) == 1 && poll(&Report, 1, 0) == 0) {
    kill(getpid(), Stop);
  }
}

// Starts the child; its pid, or 0 with `Start.Error` set.
pid_t Spawn(ChildStart& Start) {
  // The child's own stack: the launcher's is in use by the launcher, which
  // stays suspended until the child has called execve or exited.
  alignas(16) static char Stack[64 * 1024];
  sigset_t All;
  sigset_t Kept;
  sigfillset(&All);
  sigprocmask(SIG_BLOCK, &All, &Kept);
  const pid_t Pid =
      clone(StartChild, Stack + sizeof Stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &Start);
  if (Pid < 0) {
    Start.Error = errno;
  }
  sigprocmask(SIG_SETMASK, &Kept, nullptr);
  if (Pid > 0 && Start.Error != 0) {
    Reap(Pid, 0); // the child ended without running the program
  }
  return Pid > 0 && Start.Error == 0 ? Pid : 0;
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
  sigset_t Blocked;
  sigprocmask(SIG_BLOCK, nullptr, &Blocked);
  for (int Signal = 1; Signal < 64; ++Signal) {
    if (sigismember(&Blocked, Signal) == 1) {
      Caller.BlockedSignals |= std::uint64_t{1} << Signal;
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
  const std::string Dir = EncodeLossless(WorkingDirectory);
  std::string Pwd = Dir;
  for (std::string* Path : {&Program, &Pwd}) {
    if (const int Error = MakeAbsolute(*Path); Error != 0) {
      return StartFailed(kStatusLauncherFailed, FailureFor(Error, L"current directory: "));
    }
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
  std::string PwdEntry = "PWD=" + CleanPwd(Pwd);
  auto Envp = ChildEnvironment(PwdEntry);
  ChildStart Start;
  Start.Program = Program.c_str();
  Start.Argv = Argv.data();
  Start.Envp = Envp.data();
  Start.DirFd = DirFd;
  Start.Launcher = getpid();
  Start.DiesWithLauncher = Wait;
  sigemptyset(&Start.Defaults);
  if (!IsIgnored(Caller, SIGPIPE)) {
    sigaddset(&Start.Defaults, SIGPIPE); // ignored by the launcher, not by the caller
  }

  // A caller that leaves SIGCHLD ignored would have the child reaped behind
  // our back, and waitpid would never see its status.
  SetDisposition(SIGCHLD, SIG_DFL, nullptr);
  const sigset_t Held = HeldSignals(Caller);
  if (Wait) {
    sigprocmask(SIG_BLOCK, &Held, nullptr);
  }
  const pid_t Pid = Spawn(Start);
  close(DirFd);
  if (Pid == 0) {
    const int Error = Start.Error;
    if (Start.DirectoryFailed) {
      return StartFailed(kStatusLauncherFailed, DirectoryFailure(Error));
    }
    // The kernel reports a missing script interpreter or ELF loader as if the
    // program itself were missing; it was found, so say what is wrong with it.
    // Arguments and environment too large are the start's own fault.
    const std::string Named = Error != E2BIG ? Interpreter(Program) : std::string();
    if (!Named.empty() && StatusForExecError(Error) != kStatusLauncherFailed) {
      return StartFailed(kStatusCannotRun,
                         FailureFor(Error, L"bad interpreter '" + DecodeLossless(Named) + L"': "));
    }
    return StartFailed(StatusForExecError(Error), FailureFor(Error));
  }
  if (!Wait) {
    return Outcome(Reap(Pid, WNOHANG));
  }
  int Stop = 0;
  RunOutcome Result = WaitRelaying(Pid, Held, Stop);
  YieldToStopSignals(Caller, Stop);
  return Result;
}

void FinishRun(const RunOutcome& Outcome, bool Waited, const CallerSettings& Caller) {
  const sigset_t CallerMask = SignalSet(Caller.BlockedSignals);
  sigprocmask(SIG_SETMASK, &CallerMask, nullptr);
  const int Signal = Outcome.KilledBy;
  if (!Waited || (Signal != SIGINT && Signal != SIGQUIT) || IsIgnored(Caller, Signal) ||
      getpid() == 1) {
    return; // a PID 1 cannot end itself by a signal: its status says 128 + N
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
