// Windows runner: CreateProcessW, WaitForSingleObject, GetExitCodeProcess and
// CloseHandle, called with exactly the settings the launcher promises.
#include <windows.h>

#include <algorithm>
#include <array>

#include "command_line.h"
#include "run_child.h"
#include "system_error.h"
#include "windows_errors.h"

namespace launch {

namespace {

// While the launcher waits, Ctrl-C and Ctrl-Break at the console are the
// child's to act on; the launcher outlives them to report how the child ended.
// The handler stays until the launcher exits, so that a second Ctrl-C cannot
// end it between the child's end and the status line.
// (Not SetConsoleCtrlHandler(NULL, TRUE): children inherit that setting.)
BOOL WINAPI SwallowInterrupt(DWORD Event) {
  return Event == CTRL_C_EVENT || Event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

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

  if (Wait) {
    SetConsoleCtrlHandler(SwallowInterrupt, TRUE);
  }
  if (!CreateProcessW(nullptr, CommandLineBuffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      WorkingDirectory.c_str(), &StartupInfo, &ProcessInfo)) {
    const DWORD Error = GetLastError();
    RunOutcome Outcome;
    Outcome.Code = StatusForStartError(Error);
    Outcome.Failure = FailureFor(Error);
    return Outcome;
  }

  RunOutcome Outcome;
  Outcome.Started = true;
  // A wait that failed says nothing of how the child ended: no exit code is
  // read then, or it would pass the still-active value off as a result.
  if (Wait && WaitForSingleObject(ProcessInfo.hProcess, INFINITE) == WAIT_FAILED) {
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(GetLastError(), L"waiting for the child: ");
  } else {
    DWORD ExitCode = 0;
    if (GetExitCodeProcess(ProcessInfo.hProcess, &ExitCode) == TRUE) {
      Outcome.Code = ExitCode;
    } else {
      Outcome.Code = kStatusLauncherFailed;
      Outcome.Failure = FailureFor(GetLastError());
    }
  }
  CloseHandle(ProcessInfo.hProcess);
  CloseHandle(ProcessInfo.hThread);
  return Outcome;
}

// Nothing to ready on Windows: a failed console write is an error return,
// never a signal.
CallerSettings PrepareLauncher() {
  return {};
}

// The launcher's exit code already tells everything.
void FinishRun(const RunOutcome& /*Outcome*/, bool /*Waited*/, const CallerSettings& /*Caller*/) {}

} // namespace launch
