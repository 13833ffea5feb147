// Waiting for the child: every signal meant for it is passed on once, a
// stopped child is not left stopped behind a signal meant to end it, and the
// launcher stops and goes on with its child when a shell could see it stopped.
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runner_linux.h"
#include "system_error.h"

namespace launch {

namespace {

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
  Result.Error = errno; // read only when Pid is -1
  return Result;
}

// The child's news: its end, or that it stopped or went on. A PID 1 inherits
// every orphan of its namespace: each one that has ended is reaped, so that
// none stays a zombie; only the child's status is kept.
Ended ReapChild(pid_t Pid) {
  if (getpid() == 1) {
    for (Ended Any = Reap(-1, WNOHANG); Any.Pid > 0; Any = Reap(-1, WNOHANG)) {
      if (Any.Pid == Pid) {
        return Any;
      }
    }
  }
  return Reap(Pid, WNOHANG | WUNTRACED | WCONTINUED);
}

bool HasEnded(const Ended& Child) {
  return Child.Pid < 0 || (Child.Pid > 0 && (WIFEXITED(Child.Status) || WIFSIGNALED(Child.Status)));
}

// The outcome for how the child ended: the exit code for a normal exit,
// 128 + N for death by signal N, kStillActive for a child still running.
RunOutcome Outcome(const Ended& Child) {
  RunOutcome Result;
  Result.Started = true;
  if (Child.Pid < 0) {
    Result.Code = kStatusLauncherFailed;
    Result.Failure = FailureFor(Child.Error);
  } else if (!HasEnded(Child)) {
    Result.Code = kStillActive;
  } else if (WIFSIGNALED(Child.Status)) {
    Result.KilledBy = WTERMSIG(Child.Status);
    Result.CoreDumped = WCOREDUMP(Child.Status);
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

volatile sig_atomic_t Continued = 0;

void NoteContinued(int /*Signal*/) {
  Continued = 1;
}

// A launcher that was stopped and goes on takes its child along, as a shell's
// `fg` or `bg` would for a job of one process.
void FollowLauncher(pid_t Pid) {
  if (Continued != 0) {
    Continued = 0;
    kill(Pid, SIGCONT);
  }
}

// True when the launcher's group is its terminal's foreground group: a shell
// then waits for the job and only sees it stopped if the launcher stops.
bool IsForeground() {
  const int Tty = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (Tty < 0) {
    return false;
  }
  const bool Foreground = tcgetpgrp(Tty) == getpgrp();
  close(Tty);
  return Foreground;
}

// Stops the launcher with its child, as sudo does for its command: by the
// child's own stop signal, or by SIGSTOP where the kernel discards that one
// (SIGTSTP, SIGTTIN and SIGTTOU in a group with no parent in its session).
// Returns once the launcher is continued.
void StopWithChild(int StopSignal) {
  Continued = 0;
  kill(getpid(), StopSignal);
  if (Continued == 0 && StopSignal != SIGSTOP) {
    kill(getpid(), SIGSTOP);
  }
}

} // namespace

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

RunOutcome Query(pid_t Pid) {
  return Outcome(Reap(Pid, WNOHANG));
}

WaitResult WaitRelaying(pid_t Pid, const sigset_t& Held, const sigset_t& Early,
                        const CallerSettings& Caller) {
  SetDisposition(SIGCONT, NoteContinued);
  // A terminal's key that came before the child existed did not reach it,
  // though the kernel sent it: it is passed on too.
  sigset_t Unseen = Early;
  WaitResult Result;
  bool Stopped = false;
  for (;;) {
    siginfo_t Info{};
    const int Signal = sigwaitinfo(&Held, &Info);
    FollowLauncher(Pid);
    if (Signal < 0 && errno == EINTR) {
      continue;
    }
    if (Signal < 0) {
      Result.Outcome = Outcome(Reap(Pid, 0)); // cannot relay: just wait
      return Result;
    }
    if (Signal == SIGCHLD) {
      const Ended Child = ReapChild(Pid);
      if (HasEnded(Child)) {
        Result.Outcome = Outcome(Child);
        return Result;
      }
      if (Child.Pid == 0) { // an orphan ended, or nothing new
        continue;
      }
      Stopped = WIFSTOPPED(Child.Status);
      if (Stopped && IsForeground()) {
        StopWithChild(WSTOPSIG(Child.Status));
        FollowLauncher(Pid);
      }
      continue;
    }
    if (IsTermination(Signal)) {
      Result.Termination = Signal;
    }
    const bool Relay = sigismember(&Unseen, Signal) == 1 || !ReachedChildToo(Info, Pid);
    sigdelset(&Unseen, Signal);
    if (Relay && kill(Pid, Signal) != 0 && errno == EPERM) {
      ReportUnrelayed(Signal, errno, Caller);
    }
    // A stopped child keeps such a signal pending until it goes on (as
    // coreutils timeout, the launcher sends SIGCONT after what it relays).
    if ((IsTermination(Signal) || Signal == SIGQUIT) && (Relay || Stopped)) {
      kill(Pid, SIGCONT);
    }
  }
}

} // namespace launch
