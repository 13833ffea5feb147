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
// A closing console, a logoff or a shutdown reaches the child too, and the
// system ends a process once its handler returns: this handler never returns
// for those, so the launcher goes on waiting and the job does not end the
// child before the child's own handler has run. The launcher then reports the
// child's end, or the system ends it (and the job the child) at its deadline.
BOOL WINAPI OutliveConsoleEvents(DWORD Event) {
  if (Event == CTRL_C_EVENT || Event == CTRL_BREAK_EVENT) {
    return TRUE;
  }
  Sleep(INFINITE);
  return TRUE;
}

// Console handles before Windows 8 are not kernel handles: their two low bits
// are set, they cannot go in a handle list, and a child on the same console
// gets them anyway.
bool IsConsolePseudoHandle(HANDLE Handle) {
  return (reinterpret_cast<ULONG_PTR>(Handle) & 3) == 3;
}

// The launcher's three standard handles, handed to the child explicitly:
// Windows copies them by itself only for a child that shares the launcher's
// console (and, as reported, not even then for a 32-bit program on 64-bit
// Windows 7); a launcher without a console would leave the child none.
// Each kernel handle goes as an inheritable duplicate made for the child
// alone: the launcher's own may not be inheritable, and a value the child
// does not inherit means nothing in its handle table. A handle that cannot be
// duplicated (not a handle of the launcher's at all) gives the child none.
class StandardHandles {
public:
  StandardHandles() {
    const DWORD Which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (std::size_t I = 0; I < Values.size(); ++I) {
      const HANDLE Own = GetStdHandle(Which[I]);
      Values[I] = Own;
      if (Own == nullptr || Own == INVALID_HANDLE_VALUE || IsConsolePseudoHandle(Own)) {
        continue;
      }
      HANDLE Copy = nullptr;
      const BOOL Duplicated = DuplicateHandle(GetCurrentProcess(), Own, GetCurrentProcess(), &Copy,
                                              0, TRUE, DUPLICATE_SAME_ACCESS);
      Values[I] = Duplicated ? Copy : nullptr;
      if (Duplicated) {
        Copies.push_back(Copy);
      }
    }
  }
  ~StandardHandles() {
    for (const HANDLE Copy : Copies) {
      CloseHandle(Copy);
    }
  }
  StandardHandles(const StandardHandles&) = delete;
  StandardHandles& operator=(const StandardHandles&) = delete;

  HANDLE Input() const { return Values[0]; }
  HANDLE Output() const { return Values[1]; }
  HANDLE Error() const { return Values[2]; }
  // The handles the child inherits: the duplicates, and nothing else.
  std::vector<HANDLE>& Inherited() { return Copies; }

private:
  std::array<HANDLE, 3> Values{};
  std::vector<HANDLE> Copies;
};

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

// Once the child has ended normally, the processes it left behind on purpose
// (`start /b ...`) live on: the job no longer kills on close.
void ReleaseJob(HANDLE Job) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &Limits, sizeof(Limits));
}

// A job that ends the waited child and everything it starts when the
// launcher's handle to it closes, whoever closes it: TerminateProcess on the
// launcher, or its exit. Its handle is not inheritable. A process that asks
// to leave the job (CREATE_BREAKAWAY_FROM_JOB) may.
//
// The launcher joins the job itself before it starts the child, so that the
// child is born inside it: there is no moment at which a killed launcher
// leaves a child outside the job (created suspended, it would hold the
// caller's pipes for ever). A job the launcher cannot join (nested jobs
// before Windows 8, a caller's job that forbids them) is dropped, and the
// child runs without one. Returns the job joined, or null.
HANDLE JoinKillOnCloseJob() {
  const HANDLE Job = CreateJobObjectW(nullptr, nullptr);
  if (Job == nullptr) {
    return nullptr;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &Limits, sizeof(Limits)) ||
      !AssignProcessToJobObject(Job, GetCurrentProcess())) {
    CloseHandle(Job);
    return nullptr;
  }
  return Job;
}

// The launcher is in the job too: the handle may close only once the job no
// longer kills on close, or the launcher would end itself.
void LeaveJob(HANDLE Job) {
  if (Job != nullptr) {
    ReleaseJob(Job);
    CloseHandle(Job);
  }
}

// Why CreateProcessW failed, for the caller. Error 267 is always the working
// directory's. Windows takes a directory of MAX_PATH units or more only where
// long paths are on, and otherwise fails with an error that need not name it
// (3, path not found, under Wine): that failure too is the directory's, not
// the program's, unless the program is missing, which Windows finds out first.
RunOutcome StartFailure(DWORD Error, const std::wstring& WorkingDirectory) {
  RunOutcome Outcome;
  if (Error == ERROR_DIRECTORY ||
      (Error != ERROR_FILE_NOT_FOUND && WorkingDirectory.size() >= MAX_PATH)) {
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(Error, L"working directory '" + WorkingDirectory + L"': ");
  } else {
    Outcome.Code = StatusForStartError(Error);
    Outcome.Failure = FailureFor(Error);
  }
  return Outcome;
}

} // namespace

RunOutcome RunChild(const std::wstring& CommandLine, const std::wstring& WorkingDirectory,
                    bool Wait, const CallerSettings& /*Caller*/) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  StandardHandles Std;
  HandleListAttribute HandleList(Std.Inherited());
  if (!Std.Inherited().empty() && HandleList.Failure() != ERROR_SUCCESS) {
    RunOutcome Outcome;
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(HandleList.Failure(), L"restricting the inherited handles: ");
    return Outcome;
  }
  STARTUPINFOEXW StartupInfo{};
  StartupInfo.StartupInfo.cb = sizeof(StartupInfo);
  StartupInfo.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  StartupInfo.StartupInfo.hStdInput = Std.Input();
  StartupInfo.StartupInfo.hStdOutput = Std.Output();
  StartupInfo.StartupInfo.hStdError = Std.Error();
  // With no inheritable kernel handle (all three on an old-style console, or
  // none at all) nothing is inherited; the console's own handles stay valid.
  StartupInfo.lpAttributeList = Std.Inherited().empty() ? nullptr : HandleList.Get();
  // A launcher without a console must not pop up a console window for the
  // child; CREATE_NO_WINDOW (not DETACHED_PROCESS) still gives the child a
  // console of its own for the programs that need one.
  const DWORD Flags = EXTENDED_STARTUPINFO_PRESENT | (HasConsole() ? 0 : CREATE_NO_WINDOW);
  PROCESS_INFORMATION ProcessInfo{};

  // CreateProcessW may write into the command line, so it gets a zero-filled
  // copy with room for the terminator.
  std::array<wchar_t, kCommandLineBufferUnits> CommandLineBuffer{};
  std::copy(CommandLine.begin(), CommandLine.end(), CommandLineBuffer.begin());

  if (Wait) {
    SetConsoleCtrlHandler(OutliveConsoleEvents, TRUE);
  }
  const HANDLE Job = Wait ? JoinKillOnCloseJob() : nullptr;
  if (!CreateProcessW(nullptr, CommandLineBuffer.data(), nullptr, nullptr,
                      Std.Inherited().empty() ? FALSE : TRUE, Flags, nullptr,
                      WorkingDirectory.c_str(), &StartupInfo.StartupInfo, &ProcessInfo)) {
    const DWORD Error = GetLastError();
    LeaveJob(Job);
    return StartFailure(Error, WorkingDirectory);
  }

  RunOutcome Outcome;
  Outcome.Started = true;
  if (Wait && WaitForSingleObject(ProcessInfo.hProcess, INFINITE) == WAIT_FAILED) {
    // A wait that failed says nothing of how the child ended: no exit code is
    // read then, or it would pass the still-active value off as a result.
    // The job keeps killing on close, its handle open until the launcher
    // exits: the child does not outlive a launcher that could not follow it.
    Outcome.Code = kStatusLauncherFailed;
    Outcome.Failure = FailureFor(GetLastError(), L"waiting for the child: ");
  } else {
    LeaveJob(Job);
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
void FinishRun(const RunOutcome& Outcome, bool /*Waited*/, const CallerSettings& /*Caller*/,
               void (*WriteStatusLine)(ReturnCode)) {
  WriteStatusLine(Outcome.Code);
}

} // namespace launch
