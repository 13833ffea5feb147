// The helper child of the end-to-end tests. It is told what to do through its
// environment, so that its arguments stay exactly what the launcher passed:
//   PROBE_CATCH=n      count each signal n it gets, and exit with the count (POSIX)
//   PROBE_OUT=<file>   write a record of what it received there
//   PROBE_SAY=text     write text and a newline to stdout
//   PROBE_PARENT_SIGNAL=n  then send signal n to its parent alone (POSIX)
//   PROBE_STOP_MS=n    then stop, and go on n ms later, as after Ctrl-Z and fg (POSIX)
//   PROBE_SLEEP_MS=n   then sleep
//   PROBE_SIGNAL=n     then die by signal n (POSIX)
//   PROBE_GROUP_SIGNAL=n  or send signal n to its whole process group, as a
//                      Ctrl-C at the terminal does, and die of it (POSIX)
//   PROBE_EXIT=n       then exit with code n (all 32 bits on Windows)
// The record has one line per item, values hex-encoded (UTF-8 bytes):
//   arg <hex>   each argument, argv[0] first
//   cwd <hex>   the current directory
//   exec <hex>  the path it was started from, as given to execve (POSIX)
//   fd <n>      each open descriptor (POSIX)
//   ignored <n> each of SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGCHLD it started with
//               ignored (POSIX)
//   pwd <hex>   the PWD variable, "(unset)" when there is none (POSIX)
//   pid <n>     its process id, then a last line "ready" (POSIX)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace probe {

struct Record {
  std::vector<std::string> Args;
  std::string Cwd;
  std::string Exec;
  std::vector<int> Fds;
  std::vector<int> Ignored;
  std::string Pwd;
  int Pid = 0;
};

std::string Hex(const std::string& Bytes);
Record ParseRecord(const std::string& Text);

} // namespace probe
