// POSIX: each line goes out as the very bytes its text was decoded from, so a
// value echoed from an argument is byte for byte the argument received.
#include <cerrno>
#include <string>
#include <unistd.h>

#include "console.h"
#include "lossless_text.h"

namespace launch {

namespace {

void WriteLine(int Fd, std::wstring_view Line) {
  std::string Bytes = EncodeLossless(Line);
  Bytes.push_back('\n');
  std::size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t Written = write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (Written < 0 && errno == EINTR) {
      continue;
    }
    if (Written <= 0) {
      return; // closed or full: the line is lost, the run is not
    }
    Done += static_cast<std::size_t>(Written);
  }
}

} // namespace

void WriteOutputLine(std::wstring_view Line) {
  WriteLine(STDOUT_FILENO, Line);
}

void WriteErrorLine(std::wstring_view Line) {
  WriteLine(STDERR_FILENO, Line);
}

} // namespace launch
