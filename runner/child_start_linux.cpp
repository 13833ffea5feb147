// The child's start: clone sharing the launcher's memory until the exec (as
// vfork does), then, in the child, the steps a new Windows process gets for
// free, and the exec. A failure comes back through a close-on-exec pipe, which
// works too when an emulator (qemu-user, valgrind) turns the clone into a fork.
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runner_linux.h"

namespace launch {

namespace {

// Descriptors 3 and up are marked close-on-exec in the launcher itself, which
// never runs another program: the child then keeps only 0, 1 and 2, as a
// Windows child gets no handle it was not given. Bounded by what is open,
// not by the descriptor limit, where the kernel or a filter refuses
// close_range.
void MarkInheritedCloseOnExec() {
  if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
    return;
  }
  DIR* Open = opendir("/proc/self/fd");
  if (Open == nullptr) { // no /proc: every number up to the limit
    for (long Fd = STDERR_FILENO + 1; Fd < sysconf(_SC_OPEN_MAX); ++Fd) {
      fcntl(static_cast<int>(Fd), F_SETFD, FD_CLOEXEC);
    }
    return;
  }
  const int Own = dirfd(Open);
  while (const dirent* Entry = readdir(Open)) {
    const long Fd = std::strtol(Entry->d_name, nullptr, 10); // "." and ".." give 0
    if (Fd > STDERR_FILENO && Fd != Own) {
      fcntl(static_cast<int>(Fd), F_SETFD, FD_CLOEXEC);
    }
  }
  closedir(Open);
}

// Like the rest of the child's code, not instrumented: it runs on the child's
// own stack, which AddressSanitizer does not know.
[[noreturn]] __attribute__((no_sanitize("address"))) void ReportFailure(const ChildStart& Start,
                                                                        int Error, StartStep Step) {
  const SpawnFailure Failure{Error, Step};
  // Far below what a pipe takes at once; if the launcher is gone, so is the reader.
  [[maybe_unused]] const ssize_t Sent = write(Start.ReportFd, &Failure, sizeof Failure);
  _exit(127);
}

// Every caught signal back at its default. The child must do this before it
// unblocks anything: until its exec it runs on the launcher's memory, which a
// handler of the launcher's (a sanitizer's, or any installed before the
// start) would then use as if it were the launcher. Ignored signals stay
// ignored.
// SIGPIPE, which the launcher ignores for itself, goes back to its default
// too when the caller had it so (`DefaultSigpipe`).
__attribute__((no_sanitize("address"))) void DefaultCaughtSignals(bool DefaultSigpipe) {
  struct sigaction Default {};
  Default.sa_handler = SIG_DFL;
  for (int Signal = 1; Signal < NSIG; ++Signal) {
    struct sigaction Action {};
    if (Signal == SIGKILL || Signal == SIGSTOP || sigaction(Signal, nullptr, &Action) != 0) {
      continue;
    }
    // sa_handler and sa_sigaction share their storage: SIG_DFL and SIG_IGN
    // read the same whatever the flags.
    const bool Caught = Action.sa_handler != SIG_DFL && Action.sa_handler != SIG_IGN;
    if (Caught || (Signal == SIGPIPE && DefaultSigpipe)) {
      sigaction(Signal, &Default, nullptr);
    }
  }
}

// The child, from its start to the exec. Every signal is blocked on entry, so
// no handler of the launcher's can run on the memory the two share.
__attribute__((no_sanitize("address"))) int StartChild(void* Argument) {
  const auto& Start = *static_cast<const ChildStart*>(Argument);
  DefaultCaughtSignals(Start.DefaultSigpipe);
  if (Start.RestoreDescriptorLimit && setrlimit(RLIMIT_NOFILE, &Start.DescriptorLimit) != 0) {
    ReportFailure(Start, errno, StartStep::SetUp);
  }
  if (Start.DiesWithLauncher) {
    // SIGKILL, the one signal the launcher cannot catch, would otherwise leave
    // the child running. If the launcher died before this was set, the child
    // now has another parent: end as the signal would have ended it.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
      ReportFailure(Start, errno, StartStep::SetUp);
    }
    if (getppid() != Start.Launcher) {
      kill(getpid(), SIGKILL); // not raise(): it reads the launcher's thread id
    }
  }
  if (fchdir(Start.DirFd) != 0) {
    ReportFailure(Start, errno, StartStep::Directory);
  }
  sigset_t Empty; // a new Windows process has no signal blocked either
  sigemptyset(&Empty);
  sigprocmask(SIG_SETMASK, &Empty, nullptr);
  if (Start.ProgramDirFd >= 0) {
    execveat(Start.ProgramDirFd, Start.Program, Start.Argv, Start.Envp, 0);
  } else {
    execve(Start.Program, Start.Argv, Start.Envp);
  }
  ReportFailure(Start, errno, StartStep::Exec);
}

} // namespace

bool MakeRoomForTheStart(rlimit& Caller) {
  // The working directory, the failure pipe's two ends, the program's
  // directory (a caller deeper than the path limit), and what the fallbacks
  // that close descriptors and name an interpreter open for a moment.
  constexpr rlim_t kStartDescriptors = 8;
  if (getrlimit(RLIMIT_NOFILE, &Caller) != 0 || Caller.rlim_cur == RLIM_INFINITY ||
      Caller.rlim_cur >= Caller.rlim_max) {
    return false;
  }
  rlimit Raised = Caller;
  Raised.rlim_cur = Caller.rlim_max - Caller.rlim_cur > kStartDescriptors
                        ? Caller.rlim_cur + kStartDescriptors
                        : Caller.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &Raised) == 0;
}

pid_t Spawn(ChildStart& Start, SpawnFailure& Failure) {
  // The child's own stack: the launcher's is in use by the launcher, which
  // stays suspended until the child has called execve or exited.
  alignas(16) static char Stack[64 * 1024];
  MarkInheritedCloseOnExec();
  int Report[2];
  if (pipe2(Report, O_CLOEXEC) != 0) {
    Failure = {errno, StartStep::Create};
    return 0;
  }
  Start.ReportFd = Report[1];
  sigset_t All;
  sigset_t Kept;
  sigfillset(&All);
  sigprocmask(SIG_BLOCK, &All, &Kept);
  const pid_t Pid =
      clone(StartChild, Stack + sizeof Stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &Start);
  const int CloneError = errno;
  sigprocmask(SIG_SETMASK, &Kept, nullptr);
  close(Report[1]);
  if (Pid < 0) {
    close(Report[0]);
    Failure = {CloneError, StartStep::Create};
    return 0;
  }
  // End of file: the exec closed the child's end, and the program runs.
  ssize_t Got = 0;
  do {
    Got = read(Report[0], &Failure, sizeof Failure);
  } while (Got < 0 && errno == EINTR);
  close(Report[0]);
  if (Got != static_cast<ssize_t>(sizeof Failure)) {
    return Pid;
  }
  while (waitpid(Pid, nullptr, 0) < 0 && errno == EINTR) { // it ended without the program
  }
  return 0;
}

} // namespace launch
