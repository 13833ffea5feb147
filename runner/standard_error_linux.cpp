// Standard error with a bound: a line on stderr is said on the way, and a
// reader that never comes must not keep the launcher, nor change its status.
#include "standard_error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace launch {

namespace {

// How long, in all, the run may wait for stderr to take its lines.
constexpr long long kBudgetNs = 1'000'000'000;

long long BudgetLeftNs = kBudgetNs;
bool Stuck = false;

long long MonotonicNs() {
  timespec Now{};
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return Now.tv_sec * 1'000'000'000LL + Now.tv_nsec;
}

// Waits until stderr can take more bytes, out of what is left of the budget;
// false, and stderr stuck for the rest of the run, when it cannot. (A closed
// or failing stderr reports ready, and its write tells why.)
bool WaitForRoom() {
  pollfd Entry{STDERR_FILENO, POLLOUT, 0};
  while (!Stuck) {
    const long long From = MonotonicNs();
    const auto TimeoutMs = static_cast<int>((std::max(BudgetLeftNs, 0LL) + 999'999) / 1'000'000);
    const int Ready = poll(&Entry, 1, TimeoutMs);
    const int Error = errno;
    BudgetLeftNs -= MonotonicNs() - From;
    if (Ready > 0) {
      return true;
    }
    Stuck = Ready == 0 || Error != EINTR || BudgetLeftNs <= 0;
  }
  return false;
}

} // namespace

void WriteNotice(std::string_view Text) {
  std::string Line = "launch: ";
  Line.append(Text).push_back('\n');
  WriteStandardError(Line);
}

int WriteStandardError(std::string_view Bytes) {
  std::size_t Done = 0;
  while (Done < Bytes.size()) {
    if (!WaitForRoom()) {
      return kStandardErrorStuck;
    }
    // A pipe that reported room takes PIPE_BUF bytes without blocking; a
    // larger write could block once that room is filled.
    const std::size_t Chunk = std::min<std::size_t>(Bytes.size() - Done, PIPE_BUF);
    const ssize_t Written = write(STDERR_FILENO, Bytes.data() + Done, Chunk);
    if (Written > 0) {
      Done += static_cast<std::size_t>(Written);
      continue;
    }
    if (Written == 0) { // taken as nothing: no reason to wait for
      return kStandardErrorStuck;
    }
    // A caller's non-blocking pipe that is full waits for room like any other
    // (its flags are the caller's, and stay as they are).
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return errno;
    }
  }
  return 0;
}

} // namespace launch
