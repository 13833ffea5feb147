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

#include "lossless_text.h"
#include "runner_linux.h"
#include "system_error.h"

namespace launch {

namespace {

// How long a status line that follows a relayed termination signal waits for
// its reader before that signal ends the launcher after all.
constexpr long kReaderBoundSeconds = 5;

int RelayedTermination = 0; // the last termination signal relayed while the child ran

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
    EndAsPidOne(RelayedTermination);
  }
  EndBy(RelayedTermination);
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
  for (const int Signal : kTerminationSignals) {
    if (!IsIgnored(Caller, Signal) && !HasSignal(Caller.BlockedSignals, Signal)) {
      sigaddset(&Yielding, Signal);
      if (getpid() == 1) {
        SetDisposition(Signal, EndAsPidOne);
      }
    }
  }
  sigprocmask(SIG_UNBLOCK, &Yielding, nullptr);
  if (RelayedTermination == 0 || sigismember(&Yielding, RelayedTermination) != 1) {
    return false;
  }
  if (Outcome.KilledBy != RelayedTermination && ArmBound()) {
    return true;
  }
  if (!CanWriteNow()) {
    kill(getpid(), RelayedTermination);
  }
  return false;
}

} // namespace

// As a shell names a job's fatal signal: by its name and its meaning, with the
// core file when the kernel wrote one. Shells say nothing for SIGINT (the
// user pressed it) or SIGPIPE (the reader left), and neither does this.
std::wstring DescribeAbnormalEnd(const RunOutcome& Outcome) {
  const int Signal = Outcome.KilledBy;
  if (Signal == 0 || Signal == SIGINT || Signal == SIGPIPE) {
    return {};
  }
  const char* Abbreviation = sigabbrev_np(Signal); // none for the real-time signals
  const std::string Name = Abbreviation != nullptr ? Abbreviation
                           : Signal >= SIGRTMIN    ? "RTMIN+" + std::to_string(Signal - SIGRTMIN)
                                                   : std::to_string(Signal);
  std::string Text = "was killed by SIG" + Name + " (" + strsignal(Signal) + ")";
  if (Outcome.CoreDumped) {
    Text += ", core dumped";
  }
  return DecodeLossless(Text);
}

void NoteRelayedTermination(int Signal) {
  RelayedTermination = Signal;
}

void ReportUnrelayed(int Signal, int Error, const CallerSettings& Caller) {
  const RunFailure Failure = FailureFor(static_cast<std::uint32_t>(Error));
  WriteNotice(std::string("cannot relay SIG") + sigabbrev_np(Signal) + " to the child: " +
              EncodeLossless(ReasonWithNumber(Failure)) + "; the child runs on");
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

} // namespace launch
