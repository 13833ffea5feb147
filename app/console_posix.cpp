// POSIX: each line goes out as the very bytes its text was decoded from, so a
// value echoed from an argument is byte for byte the argument received. The
// report waits for its reader; stderr has the runner's bounded writer, which
// the runner's own notices share.
#include <cerrno>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "console.h"
#include "lossless_text.h"
#include "standard_error.h"
#include "system_error.h"

namespace launch {

namespace {

// Blocks until `Fd` can take more bytes; false when that cannot be waited for.
// (An error or hang-up on the descriptor shows in the next write.)
bool WaitUntilWritable(int Fd) {
  pollfd Entry{Fd, POLLOUT, 0};
  int Ready = 0;
  do {
    Ready = poll(&Entry, 1, -1);
  } while (Ready < 0 && errno == EINTR);
  return Ready > 0;
}

std::string LineBytes(std::wstring_view Line) {
  std::string Bytes = EncodeLossless(Line);
  Bytes.push_back('\n');
  return Bytes;
}

std::optional<RunFailure> WriteLine(int Fd, std::wstring_view Line) {
  const std::string Bytes = LineBytes(Line);
  std::size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t Written = write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (Written > 0) {
      Done += static_cast<std::size_t>(Written);
      continue;
    }
    if (Written == 0) {
      return RunFailure{L"nothing was written", std::nullopt, std::nullopt};
    }
    if (errno == EINTR) {
      continue;
    }
    // A caller may share a non-blocking pipe with us: a full one means wait
    // for room, not drop the line. Its flags are the caller's as well, so they
    // stay as they are.
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilWritable(Fd)) {
      continue;
    }
    return FailureFor(static_cast<std::uint32_t>(errno));
  }
  return std::nullopt;
}

} // namespace

std::optional<RunFailure> WriteOutputLine(std::wstring_view Line) {
  return WriteLine(STDOUT_FILENO, Line);
}

std::optional<RunFailure> WriteErrorLine(std::wstring_view Line) {
  const int Error = WriteStandardError(LineBytes(Line));
  if (Error == kStandardErrorStuck) {
    return RunFailure{L"stderr takes nothing", std::nullopt, std::nullopt};
  }
  if (Error != 0) {
    return FailureFor(static_cast<std::uint32_t>(Error));
  }
  return std::nullopt;
}

} // namespace launch
