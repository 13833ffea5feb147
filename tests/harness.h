// Runs a program the way a caller of the launcher would, and collects what it
// printed and the status it ended with. One implementation per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

struct Result {
  std::uint32_t Status = 0; // all the bits the platform keeps
  std::string Out;          // stdout, as bytes
  std::string Err;          // stderr, as bytes
  // Windows, with EndOnceExists: every writer of stdout was gone within a
  // second of the program's end.
  bool StdoutClosed = false;
  std::vector<int> Given; // POSIX: each descriptor the program was started with
  // POSIX: a tool the run needs (strace, unshare, ...) that this machine
  // lacks; nothing was run, and the row is skipped (or fails, where every
  // tool must be there).
  std::string MissingTool;
};

// Where the started program's stdout goes. FullNonBlocking: a pipe with
// O_NONBLOCK set and no room left, drained only once the program has had time
// to meet it full; Out then holds what arrived after the filling. Stuck: a
// pipe with StdoutRoom bytes free that nobody reads. Late: the same pipe, read
// from a second after the program is ready (and signalled); Out then holds
// what arrived after the filling.
enum class Stdout { Captured, Closed, Full, BrokenPipe, FullNonBlocking, Stuck, Late };

// POSIX: what the terminal does once the probe is ready: nothing, a Ctrl-C, a
// Ctrl-\ or a hang-up; or, as a shell's `fg` would, continue the program (it
// alone) once it has stopped (never, if it does not stop within 5 seconds).
// Windows: HangUp is the console closing, a CTRL_CLOSE_EVENT to the program
// alone once ReadyFile exists.
enum class Terminal { None, CtrlC, CtrlQuit, HangUp, Fg };

// A launcher built with AddressSanitizer: it cannot check for leaks under
// ptrace (strace), nor run under qemu-user.
#ifdef LAUNCH_SANITIZED
inline constexpr bool kSanitizedLauncher = true;
#else
inline constexpr bool kSanitizedLauncher = false;
#endif

// A launcher that loads shared libraries as it starts (a dynamic build, the
// sanitizers' too): under a hard limit of a few descriptors it cannot load.
#ifdef LAUNCH_LOADS_LIBRARIES
inline constexpr bool kLoadsLibraries = true;
#else
inline constexpr bool kLoadsLibraries = false;
#endif

// The status of a run that outlived the harness's deadline and was killed.
inline constexpr std::uint32_t kTimedOut = 2000;

struct Options {
  std::vector<std::string> Env;     // NAME=value entries added to (or replacing) the caller's
  std::string CallerDir;            // the caller's current directory; empty: the test's own
  bool HostileSignals = false;      // POSIX: start with SIGCHLD ignored and every signal blocked
  Stdout Output = Stdout::Captured; // POSIX: the others are a report that cannot be written
  std::vector<std::string> Prefix;  // POSIX: a command that runs the program, such as nohup
  bool Unprivileged = false;        // POSIX: as root, run a copy of the program as nobody
  // POSIX: the program leads a new session whose controlling terminal, a
  // pseudo-terminal, is its stdin; Key is pressed there once ReadyFile ends
  // with a line "ready" (a probe's record).
  Terminal Key = Terminal::None;
  int Presses = 1;
  std::string ReadyFile;
  int KeyDelayMs = 0; // POSIX: without a ReadyFile, the key is pressed this long after the start
  int SignalWhenReady = 0; // POSIX: sent to the program 200 ms after ReadyFile is ready
  std::size_t StdoutRoom = 0;
  // POSIX: when not 0, stderr is a full pipe that nobody reads for this many
  // ms (-1: ever); Err then holds what arrived after the filling.
  int StuckStderrMs = 0;
  bool Detached = false;     // Windows: started with DETACHED_PROCESS (no console)
  std::string EndOnceExists; // Windows: TerminateProcess it once this file exists
  int EndAfterOutputMs = -1; // Windows: or this long after its first output
  std::string Argv0;         // Windows: the line's program name, when not the program
  // Windows: once ReadyFile exists, the program's import of this function
  // ("Name@ArgumentBytes") fails with error 5 whenever it is called.
  std::string FailingCall;
};

// Runs `Program` with `Args` (UTF-8; on POSIX any bytes). The started program
// inherits one extra descriptor or handle that it must not pass on (on Windows
// its value is in PROBE_HARNESS_HANDLE). On POSIX it starts with default signal
// dispositions and an empty mask (unless HostileSignals), and leads a process
// group of its own, as a job started from a shell does. A run that has not
// ended after 15 seconds is killed and reports kTimedOut.
Result Run(const std::string& Program, const std::vector<std::string>& Args,
           const Options& Opts = {});

bool IsWindows();
std::string NativePath(const std::string& Path); // as the launcher's platform spells it
std::string LauncherPath();
std::string ProbePath();
std::string NewTempDir();
std::string ReadFile(const std::string& Path);
// POSIX: environment entries that bring a start which already uses `Used`
// bytes of arguments and environment (beyond the caller's own environment) to
// `Short` bytes below the room the kernel gives them. Windows: none.
std::vector<std::string> EnvironmentFiller(std::size_t Used, std::size_t Short);
// POSIX: true once process `Pid` has ended (gone, or a zombie), within 5 seconds.
bool EndsSoon(int Pid);
// POSIX, as root: a copy of `Program` owned by root with the setuid bit, in a
// folder anyone may enter. "" elsewhere.
std::string SetuidCopy(const std::string& Program);
// POSIX: a directory under `Under` deeper than the kernel's path limit, with a
// link to `Program` in it, of the same file name; returns the shell commands
// that enter it step by step. Windows: "".
std::string DeepDirectory(const std::string& Under, const std::string& Program);
// POSIX: a copy of `Program` at `Path`, held open for writing (the kernel will
// not run it) until Release. Windows: nothing, -1.
int CopyHeldForWriting(const std::string& Program, const std::string& Path);
void Release(int Held);
// Windows: the file version in a program's version resource, "1.2.3.0".
std::string FileVersion(const std::string& Path);
void WriteFile(const std::string& Path, const std::string& Text, bool Executable);

} // namespace harness
