// The end of the run, in one place: which signals may still end the launcher
// while its status line waits for a reader, and that none may once the line
// is out, so that the exit status is always the code the line names (or there
// is no line at all).
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/time.h>
#include <unistd.h>

#include "runner_linux.h"

namespace launch {

namespace {

// How long a status line that follows a relayed termination signal waits for
// its reader before that signal ends the launcher after all.
constexpr long kReaderBoundSeconds = 5;

int RelayedStop = 0; // the last termination signal relayed while the child ran

// A PID 1 is not ended by a signal left at its default action.
void EndAsPidOne(int Signal) {
  _exit(128 + Signal);
}

// Ends the launcher by `Signal`, without a core file (the launcher itself did
// nothing wrong; not dumpable holds for every core pattern, a pipe included).
void EndBy(int Signal) {
  prctl(PR_SET_DUMPABLE, 0);
  SetDisposition(Signal, SIG_DFL);
  sigset_t Only;
  sigemptyset(&Only);
  sigaddset(&Only, Signal);
  kill(getpid(), Signal);
  sigprocmask(SIG_UNBLOCK, &Only, nullptr); // the pending signal ends the launcher here
}

bool CanWriteNow() {
  pollfd Report{};
  Report.fd = STDOUT_FILENO;
  Report.events = POLLOUT;
  return poll(&Report, 1, 0) == 1;
}

// The bound has passed: the relayed signal ends the launcher after all.
void EndAtBound(int /*Signal*/) {
  if (getpid() == 1) {
    EndAsPidOne(RelayedStop);
  }
  EndBy(RelayedStop);
}

// Arms the bound with SIGALRM (a POSIX timer would link a thread library into
// the static program for this one use); false when no timer can be had.
bool ArmBound() {
  SetDisposition(SIGALRM, EndAtBound);
  sigset_t Alarm;
  sigemptyset(&Alarm);
  sigaddset(&Alarm, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &Alarm, nullptr);
  itimerval Bound{};
  Bound.it_value.tv_sec = kReaderBoundSeconds;
  return setitimer(ITIMER_REAL, &Bound, nullptr) == 0;
}

// Once the child has ended, the launcher has only its status line left to
// write; if a reader leaves that stuck, SIGTERM, SIGINT and SIGHUP must still
// end it, as they would end any program (unless the caller ignored or blocked
// them). One that came while the child ran was relayed, and meant to end the
// launcher as well: when the child died of it, the launcher ends by it if the
// line cannot go out at once (its status says the same); when the child
// handled it, the line waits for its reader up to a bound, then the signal
// ends the launcher. Returns whether the bound was armed.
bool YieldToTermination(const RunOutcome& Outcome, const CallerSettings& Caller) {
  sigset_t Yielding;
  sigemptyset(&Yielding);
  for (const int Signal : {SIGTERM, SIGINT, SIGHUP}) {
    if (!IsIgnored(Caller, Signal) && !HasSignal(Caller.BlockedSignals, Signal)) {
      sigaddset(&Yielding, Signal);
      if (getpid() == 1) {
        SetDisposition(Signal, EndAsPidOne);
      }
    }
  }
  sigprocmask(SIG_UNBLOCK, &Yielding, nullptr);
  if (RelayedStop == 0 || sigismember(&Yielding, RelayedStop) != 1) {
    return false;
  }
  if (Outcome.KilledBy != RelayedStop && ArmBound()) {
    return true;
  }
  if (!CanWriteNow()) {
    kill(getpid(), RelayedStop);
  }
  return false;
}

} // namespace

void SetDisposition(int Signal, void (*Handler)(int)) {
  struct sigaction Action {};
  Action.sa_handler = Handler;
  sigemptyset(&Action.sa_mask);
  sigaction(Signal, &Action, nullptr);
}

void WriteNotice(std::string_view Text) {
  std::string Line = "launch: ";
  Line.append(Text).push_back('\n');
  std::size_t Done = 0;
  for (int Tries = 0; Done < Line.size() && Tries < 10; ++Tries) {
    pollfd Errors{};
    Errors.fd = STDERR_FILENO;
    Errors.events = POLLOUT;
    if (poll(&Errors, 1, 1000) != 1) {
      continue;
    }
    const ssize_t Written = write(STDERR_FILENO, Line.data() + Done, Line.size() - Done);
    if (Written > 0) {
      Done += static_cast<std::size_t>(Written);
    }
  }
}

void NoteRelayedStop(int Signal) {
  RelayedStop = Signal;
}

void EndUnrelayed(int Signal, int Error, const CallerSettings& Caller) {
  WriteNotice(std::string("cannot relay SIG") + sigabbrev_np(Signal) + " to the child: " +
              std::strerror(Error) + " (error " + std::to_string(Error) + "); the child runs on");
  if (HasSignal(Caller.BlockedSignals, Signal)) {
    return;
  }
  if (getpid() == 1) {
    EndAsPidOne(Signal);
  }
  EndBy(Signal);
}

void FinishRun(const RunOutcome& Outcome, bool Waited, const CallerSettings& Caller,
               void (*WriteStatusLine)(ReturnCode)) {
  const bool Bounded = Waited && YieldToTermination(Outcome, Caller);
  WriteStatusLine(Outcome.Code);
  // The line is out: no signal may end the launcher with another status now.
  sigset_t All;
  sigfillset(&All);
  sigprocmask(SIG_BLOCK, &All, nullptr);
  if (Bounded) {
    const itimerval Off{};
    setitimer(ITIMER_REAL, &Off, nullptr);
  }
  // A shell tells an interrupted job from one that handled the interrupt by
  // how it ended: an exit of 130 would let its loop go on. A PID 1 cannot end
  // itself so (the kernel drops a signal left at its default action that a
  // namespace's init sends itself): it goes on, and its status says 128 + N.
  const int Signal = Outcome.KilledBy;
  if (Waited && (Signal == SIGINT || Signal == SIGQUIT) && !IsIgnored(Caller, Signal)) {
    EndBy(Signal);
  }
}

// Says nothing yet on Linux: the status, 128 + N, is what names the signal
// that ended the child.
std::wstring DescribeAbnormalEnd(const RunOutcome& /*Outcome*/) {
  return {};
}

} // namespace launch
