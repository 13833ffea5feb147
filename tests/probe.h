// The helper child of the end-to-end tests. It is told what to do through its
// environment, so that its arguments stay exactly what the launcher passed:
//   PROBE_CATCH=n      count each signal n it gets, and exit with the count (POSIX)
//   PROBE_OUT=<file>   write a record of what it received there
//   PROBE_SAY=text     write text and a newline to stdout
//   PROBE_ROOT=1       then set all three user ids to root (a setuid copy; POSIX)
//   PROBE_PARENT_SIGNAL=n  then send signal n to its parent alone (POSIX)
//   PROBE_STOP_MS=n    then stop, and go on n ms later, as after Ctrl-Z and fg (POSIX)
//   PROBE_GROUP_SIGNAL=2  Windows: send Ctrl-C to its whole console, and die
//                      of it as Windows does (0xC000013A)
//   PROBE_SLEEP_MS=n   then sleep
//   PROBE_TOUCH=<file> then create that file (Windows)
//   PROBE_SIGNAL=n     then die by signal n (POSIX)
//   PROBE_GROUP_SIGNAL=n  POSIX: or send signal n to its whole process group,
//                      as a Ctrl-C at the terminal does, and die of it
//   PROBE_EXIT=n       then exit with code n (all 32 bits on Windows)
// The record has one line per item, values hex-encoded (UTF-8 bytes):
//   arg <hex>   each argument, argv[0] first
//   cwd <hex>   the current directory
//   exec <hex>  the path it was started from, as given to execve (POSIX)
//   fd <n>      each open descriptor (POSIX); on Windows, the handle named by
//               PROBE_HARNESS_HANDLE, when it reached the probe
//   launcherfd <n>  each descriptor its parent holds (POSIX)
//   console     Windows: the probe is attached to a console
//   std <t t t> Windows: the file type of its stdin, stdout and stderr
//               (GetFileType: 1 disk, 2 character device, 3 pipe, 0 none)
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
  std::vector<int> LauncherFds; // POSIX
  std::vector<int> Ignored;
  std::string Pwd;
  std::vector<std::string> Env; // POSIX
  int Pid = 0;
  bool Console = false;
  std::string StdTypes; // Windows
};

std::string Hex(const std::string& Bytes);
Record ParseRecord(const std::string& Text);

// Shared by the probes and the harness.
std::string ReadFile(const std::string& Path);  // as bytes; "" when it cannot be read
unsigned long long EnvNumber(const char* Name); // 0 when unset

} // namespace probe
