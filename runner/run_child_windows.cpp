// Windows runner: CreateProcessW, WaitForSingleObject, GetExitCodeProcess and
// CloseHandle, called with exactly the settings the launcher promises.
#include <windows.h>

#include <algorithm>
#include <array>

#include "command_line.h"
#include "console.h"
#include "run_child.h"

namespace launch {

namespace {

// Not in every SDK's headers: the program asks for elevation the caller lacks.
constexpr DWORD kErrorElevationRequired = 740;

// Some messages name the program as "%1" ("%1 is not a valid Win32
// application"): put in the program as CreateProcessW read it.
RunFailure FailureFor(DWORD Error, const std::wstring& CommandLine) {
  std::wstring Reason = SystemReason(Error);
  if (const auto At = Reason.find(L"%1"); At != std::wstring::npos) {
    Reason.replace(At, 2, SplitCommandLine(CommandLine).front());
  }
  return RunFailure{Reason, Error, std::nullopt};
}

ReturnCode StatusForStartError(DWORD Error) {
  switch (Error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return kStatusNotFound;
  case ERROR_ACCESS_DENIED:
  case ERROR_BAD_EXE_FORMAT:
  case ERROR_EXE_MACHINE_TYPE_MISMATCH:
  case kErrorElevationRequired:
    return kStatusCannotRun;
  default: // ERROR_DIRECTORY for a bad working directory among others
    return kStatusLauncherFailed;
  }
}

// While the launcher waits, Ctrl-C and Ctrl-Break at the console are the
// child's to act on; the launcher outlives them to report how the child ended.
// (Not SetConsoleCtrlHandler(NULL, TRUE): children inherit that setting.)
BOOL WINAPI SwallowInterrupt(DWORD Event) {
  return Event == CTRL_C_EVENT || Event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

class InterruptShield {
public:
  explicit InterruptShield(bool Active) : Active_(Active) {
    if (Active_) {
      SetConsoleCtrlHandler(SwallowInterrupt, TRUE);
    }
  }
  ~InterruptShield() {
    if (Active_) {
      SetConsoleCtrlHandler(SwallowInterrupt, FALSE);
    }
  }
  InterruptShield(const InterruptShield&) = delete;
  InterruptShield& operator=(const InterruptShield&) = delete;

private:
  bool Active_;
};

} // namespace

RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait, const CallerSettings& /*Caller*/) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  STARTUPINFOW StartupInfo{};
  StartupInfo.cb = sizeof(StartupInfo);
  PROCESS_INFORMATION ProcessInfo{};

  // CreateProcessW may write into the command line, so it gets a zero-filled
  // copy with room for the terminator.
  std::array<wchar_t, kCommandLineBufferUnits> CommandLineBuffer{};
  std::copy(CommandLine.begin(), CommandLine.end(), CommandLineBuffer.begin());

  const InterruptShield Shield(Wait);
  if (!CreateProcessW(nullptr, CommandLineBuffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      WorkingDirectory.c_str(), &StartupInfo, &ProcessInfo)) {
    const DWORD Error = GetLastError();
    RunOutcome Outcome;
    Outcome.Code = StatusForStartError(Error);
    Outcome.Failure = FailureFor(Error, CommandLine);
    return Outcome;
  }

  if (Wait) {
    WaitForSingleObject(ProcessInfo.hProcess, INFINITE);
  }
  DWORD ExitCode = 0;
  const BOOL Queried = GetExitCodeProcess(ProcessInfo.hProcess, &ExitCode);
  const DWORD QueryError = GetLastError();
  CloseHandle(ProcessInfo.hProcess);
  CloseHandle(ProcessInfo.hThread);

  RunOutcome Outcome;
  Outcome.Started = true;
  Outcome.Code = ExitCode;
  if (Queried != TRUE) {
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(QueryError, CommandLine);
  }
  return Outcome;
}

// Nothing to ready on Windows: a failed console write is an error return,
// never a signal.
CallerSettings PrepareLauncher() {
  return {};
}

// The launcher's exit code already tells everything.
void FinishRun(const RunOutcome& /*Outcome*/, bool /*Waited*/) {}

} // namespace launch
