// Windows runner: CreateProcessW, WaitForSingleObject, GetExitCodeProcess and
// CloseHandle, called with exactly the settings the launcher promises.
#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>

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

// The launcher's three standard handles, handed to the child explicitly:
// Windows copies them by itself only for a child that shares the launcher's
// console (and, as reported, not even then for a 32-bit program on 64-bit
// Windows 7); a launcher without a console would leave the child none.
struct StandardHandles {
  HANDLE Input = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE Error = GetStdHandle(STD_ERROR_HANDLE);
};

// Console handles before Windows 8 are not kernel handles: their two low bits
// are set, they cannot go in a handle list, and a child on the same console
// gets them anyway.
bool IsConsolePseudoHandle(HANDLE Handle) {
  return (reinterpret_cast<ULONG_PTR>(Handle) & 3) == 3;
}

// The handles the child may inherit: each inheritable standard handle once. A
// handle in the list must be inheritable, or CreateProcessW fails.
std::vector<HANDLE> InheritableList(const StandardHandles& Std) {
  std::vector<HANDLE> List;
  for (const HANDLE Handle : {Std.Input, Std.Output, Std.Error}) {
    DWORD Flags = 0;
    if (Handle == nullptr || Handle == INVALID_HANDLE_VALUE || IsConsolePseudoHandle(Handle) ||
        std::find(List.begin(), List.end(), Handle) != List.end() ||
        !GetHandleInformation(Handle, &Flags) || (Flags & HANDLE_FLAG_INHERIT) == 0) {
      continue;
    }
    List.push_back(Handle);
  }
  return List;
}

// Restricts inheritance to `Handles` (which must outlive it), so that no other
// inheritable handle of the launcher reaches the child.
class HandleListAttribute {
public:
  explicit HandleListAttribute(std::vector<HANDLE>& Handles) {
    SIZE_T Size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &Size);
    Storage.resize(Size);
    auto* List = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(Storage.data());
    if (InitializeProcThreadAttributeList(List, 1, 0, &Size)) {
      Attributes = List;
      if (!UpdateProcThreadAttribute(List, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, Handles.data(),
                                     Handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
        Error = GetLastError();
      }
    } else {
      Error = GetLastError();
    }
  }
  ~HandleListAttribute() {
    if (Attributes != nullptr) {
      DeleteProcThreadAttributeList(Attributes);
    }
  }
  HandleListAttribute(const HandleListAttribute&) = delete;
  HandleListAttribute& operator=(const HandleListAttribute&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return Attributes; }
  DWORD Failure() const { return Error; }

private:
  std::vector<char> Storage;
  LPPROC_THREAD_ATTRIBUTE_LIST Attributes = nullptr;
  DWORD Error = ERROR_SUCCESS;
};

// True when the launcher is attached to a console (which the child then
// shares); false for a launcher started detached or from a GUI program.
bool HasConsole() {
  DWORD Ids[1] = {};
  return GetConsoleProcessList(Ids, 1) != 0;
}

// A job that ends the waited child and everything it starts when the
// launcher's handle to it closes, whoever closes it: TerminateProcess on the
// launcher, or its exit. Its handle is not inheritable. A process that asks
// to leave the job (CREATE_BREAKAWAY_FROM_JOB) may.
HANDLE KillOnCloseJob() {
  const HANDLE Job = CreateJobObjectW(nullptr, nullptr);
  if (Job == nullptr) {
    return nullptr;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &Limits, sizeof(Limits))) {
    CloseHandle(Job);
    return nullptr;
  }
  return Job;
}

// Once the child has ended normally, the processes it left behind on purpose
// (`start /b ...`) live on: the job no longer kills on close.
void ReleaseJob(HANDLE Job) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &Limits, sizeof(Limits));
}

// Puts the suspended child in the job and lets it run. A job that cannot take
// it (nested jobs before Windows 8, a caller's job that forbids them) is
// dropped and the child runs without it. Returns the job kept, or null; a
// child that cannot be resumed is ended, and `Error` tells why.
HANDLE AdoptAndResume(const PROCESS_INFORMATION& Process, DWORD& Error) {
  HANDLE Job = KillOnCloseJob();
  if (Job != nullptr && !AssignProcessToJobObject(Job, Process.hProcess)) {
    CloseHandle(Job);
    Job = nullptr;
  }
  Error = ERROR_SUCCESS;
  if (ResumeThread(Process.hThread) == static_cast<DWORD>(-1)) {
    Error = GetLastError();
    TerminateProcess(Process.hProcess, kStatusLauncherFailed);
  }
  return Job;
}

} // namespace

RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait, const CallerSettings& /*Caller*/) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  const StandardHandles Std;
  std::vector<HANDLE> Inherited = InheritableList(Std);
  HandleListAttribute HandleList(Inherited);
  if (!Inherited.empty() && HandleList.Failure() != ERROR_SUCCESS) {
    RunOutcome Outcome;
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(HandleList.Failure(), L"restricting the inherited handles: ");
    return Outcome;
  }
  STARTUPINFOEXW StartupInfo{};
  StartupInfo.StartupInfo.cb = sizeof(StartupInfo);
  StartupInfo.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  StartupInfo.StartupInfo.hStdInput = Std.Input;
  StartupInfo.StartupInfo.hStdOutput = Std.Output;
  StartupInfo.StartupInfo.hStdError = Std.Error;
  // With no inheritable kernel handle (all three on an old-style console, or
  // none at all) nothing is inherited; the console's own handles stay valid.
  StartupInfo.lpAttributeList = Inherited.empty() ? nullptr : HandleList.Get();
  // A launcher without a console must not pop up a console window for the
  // child; CREATE_NO_WINDOW (not DETACHED_PROCESS) still gives the child a
  // console of its own for the programs that need one.
  DWORD Flags = EXTENDED_STARTUPINFO_PRESENT | (HasConsole() ? 0 : CREATE_NO_WINDOW);
  // The waited child starts suspended, to be in its job before it can start
  // anything of its own.
  Flags |= Wait ? CREATE_SUSPENDED : 0;
  PROCESS_INFORMATION ProcessInfo{};

  // CreateProcessW may write into the command line, so it gets a zero-filled
  // copy with room for the terminator.
  std::array<wchar_t, kCommandLineBufferUnits> CommandLineBuffer{};
  std::copy(CommandLine.begin(), CommandLine.end(), CommandLineBuffer.begin());

  if (Wait) {
    SetConsoleCtrlHandler(SwallowInterrupt, TRUE);
  }
  if (!CreateProcessW(nullptr, CommandLineBuffer.data(), nullptr, nullptr,
                      Inherited.empty() ? FALSE : TRUE, Flags, nullptr, WorkingDirectory.c_str(),
                      &StartupInfo.StartupInfo, &ProcessInfo)) {
    const DWORD Error = GetLastError();
    RunOutcome Outcome;
    Outcome.Code = StatusForStartError(Error);
    Outcome.Failure = FailureFor(Error);
    return Outcome;
  }

  DWORD ResumeError = ERROR_SUCCESS;
  const HANDLE Job = Wait ? AdoptAndResume(ProcessInfo, ResumeError) : nullptr;
  RunOutcome Outcome;
  // A child that never ran was not started, whatever CreateProcessW said.
  Outcome.Started = ResumeError == ERROR_SUCCESS;
  if (!Outcome.Started) {
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(ResumeError, L"resuming the child: ");
  } else if (Wait && WaitForSingleObject(ProcessInfo.hProcess, INFINITE) == WAIT_FAILED) {
    // A wait that failed says nothing of how the child ended: no exit code is
    // read then, or it would pass the still-active value off as a result.
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(GetLastError(), L"waiting for the child: ");
  } else {
    if (Job != nullptr) {
      ReleaseJob(Job);
    }
    DWORD ExitCode = 0;
    if (GetExitCodeProcess(ProcessInfo.hProcess, &ExitCode) == TRUE) {
      Outcome.Code = ExitCode;
    } else {
      Outcome.Code = kStatusLauncherFailed;
      Outcome.Failure = FailureFor(GetLastError());
    }
  }
  // Still kill-on-close after a failed wait: the child does not outlive a
  // launcher that could not follow it.
  if (Job != nullptr) {
    CloseHandle(Job);
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
void FinishRun(const RunOutcome& Outcome, bool /*Waited*/, const CallerSettings& /*Caller*/,
               void (*WriteStatusLine)(ReturnCode)) {
  WriteStatusLine(Outcome.Code);
}

} // namespace launch
