// Windows runner: CreateProcessW, WaitForSingleObject, GetExitCodeProcess and
// CloseHandle, called with exactly the settings the launcher promises.
#include <windows.h>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
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
// (`start /b ...`) live on: the job no longer kills on close. False when the
// job still kills on close.
bool ReleaseJob(HANDLE Job) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  return SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &Limits, sizeof(Limits)) !=
         FALSE;
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
// longer kills on close, or the launcher would end itself before its status
// line. A job that cannot be released stays open until the launcher exits,
// and then ends what the child left running.
void LeaveJob(HANDLE Job) {
  if (Job != nullptr && ReleaseJob(Job)) {
    CloseHandle(Job);
  }
}

// The longest current directory Windows takes: MAX_PATH units with a final
// backslash and the terminating zero (SetCurrentDirectory's documentation).
// Under Wine a longer one handed to CreateProcessW overruns the launcher's
// own heap, or starts the child in the Windows folder.
constexpr std::size_t kMaxCurrentDirectory = MAX_PATH - 2;

// `Path` made absolute against the launcher's current directory, with its
// "." and ".." parts resolved and no final backslash (a root keeps its own);
// empty when it has no full path.
std::wstring FullPath(const std::wstring& Path) {
  std::wstring Full(GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD Length =
      GetFullPathNameW(Path.c_str(), static_cast<DWORD>(Full.size()), Full.data(), nullptr);
  Full.resize(Length < Full.size() ? Length : 0);
  if (Full.size() > 3 && Full.back() == L'\\') {
    Full.pop_back();
  }
  return Full;
}

// True where the system takes paths longer than MAX_PATH (Windows 10 1607 and
// later, with long paths switched on; the manifest declares the launcher
// long-path aware). Older systems, and Wine, have no such switch.
bool LongPathsEnabled() {
  using Query = BOOLEAN(WINAPI*)();
  const auto Enabled = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlAreLongPathsEnabled")));
  return Enabled != nullptr && Enabled() != FALSE;
}

// The file CreateProcessW would start for `Name`, ".exe" added when it has no
// extension; empty when there is none. A directory is no program.
std::wstring FindProgram(const std::wstring& Name) {
  std::wstring Found(MAX_PATH * 4, L'\0');
  const DWORD Length = SearchPathW(nullptr, Name.c_str(), L".exe", static_cast<DWORD>(Found.size()),
                                   Found.data(), nullptr);
  Found.resize(Length < Found.size() ? Length : 0);
  const DWORD Attributes =
      Found.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Found.c_str());
  if (Attributes == INVALID_FILE_ATTRIBUTES || (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  return Found;
}

// True when CreateProcessW finds a program for `CommandLine`: the quoted name
// at its start, or else the first blank-separated prefix that names one.
bool FindsProgram(const std::wstring& CommandLine) {
  if (!CommandLine.empty() && CommandLine.front() == L'"') {
    const std::size_t Close = CommandLine.find(L'"', 1);
    return Close != std::wstring::npos && !FindProgram(CommandLine.substr(1, Close - 1)).empty();
  }
  for (std::size_t End = CommandLine.find_first_of(L" \t");;
       End = CommandLine.find_first_of(L" \t", End + 1)) {
    if (!FindProgram(CommandLine.substr(0, End)).empty()) {
      return true;
    }
    if (End == std::wstring::npos) {
      return false;
    }
  }
}

// True when the launcher may not pass through the directory `Full` (no
// traverse right), which a child would need to run there.
bool CannotEnter(const std::wstring& Full) {
  const HANDLE Directory = CreateFileW(Full.c_str(), FILE_TRAVERSE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (Directory == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  CloseHandle(Directory);
  return false;
}

RunOutcome DirectoryFailure(const std::wstring& WorkingDirectory, RunFailure Failure) {
  RunOutcome Outcome;
  Outcome.Code = kStatusLauncherFailed;
  Failure.Reason = L"working directory '" + WorkingDirectory + L"': " + Failure.Reason;
  Outcome.Failure = std::move(Failure);
  return Outcome;
}

// A directory whose full path Windows will not take as a current directory,
// for a program that is there: refused before anything starts.
std::optional<RunOutcome> RefuseLongDirectory(const std::wstring& CommandLine,
                                              const std::wstring& WorkingDirectory) {
  const std::size_t Length = FullPath(WorkingDirectory).size();
  if (Length <= kMaxCurrentDirectory || LongPathsEnabled() || !FindsProgram(CommandLine)) {
    return std::nullopt;
  }
  return DirectoryFailure(WorkingDirectory,
                          RunFailure{L"too long: its full path is " + std::to_wstring(Length) +
                                         L" UTF-16 units, the limit is " +
                                         std::to_wstring(kMaxCurrentDirectory),
                                     std::nullopt, std::nullopt});
}

// Why CreateProcessW failed, for the caller: the directory is blamed exactly
// when it is the cause, judged on its full path, not on the text as given.
// Error 267 is always the directory's (missing, or no directory). Access
// denied is the directory's when it cannot be entered; path not found and
// name too long are when its full path is too long (where long paths are on,
// Windows may still refuse it) and the program is there, which Windows makes
// sure of first. Any other error is the program's.
RunOutcome RefusedStart(DWORD Error, const std::wstring& CommandLine,
                        const std::wstring& WorkingDirectory) {
  const std::wstring Full = FullPath(WorkingDirectory);
  if (Error == ERROR_DIRECTORY || (Error == ERROR_ACCESS_DENIED && CannotEnter(Full)) ||
      ((Error == ERROR_PATH_NOT_FOUND || Error == ERROR_FILENAME_EXCED_RANGE) &&
       Full.size() > kMaxCurrentDirectory && FindsProgram(CommandLine))) {
    return DirectoryFailure(WorkingDirectory, FailureFor(Error));
  }
  RunOutcome Outcome;
  Outcome.Code = StatusForStartError(Error);
  Outcome.Failure = FailureFor(Error);
  return Outcome;
}

// Windows reads an unquoted name with blanks up to each blank in turn and
// starts the first that exists (C:\Program.exe before C:\Program Files\x.exe).
// When the whole of such an `Exe` names another program, the caller meant
// that one: returns the full path of the one that ran. Only an `Exe` with a
// blank and no quote is looked at, so that no other start pays for it.
std::optional<std::wstring> StartedInstead(const std::wstring& Exe, HANDLE Process) {
  if (Exe.find_first_of(L" \t") == std::wstring::npos || Exe.find(L'"') != std::wstring::npos) {
    return std::nullopt;
  }
  std::wstring Meant = FindProgram(Exe);
  std::wstring Ran(MAX_PATH * 4, L'\0');
  auto Size = static_cast<DWORD>(Ran.size());
  if (Meant.empty() || !QueryFullProcessImageNameW(Process, 0, Ran.data(), &Size)) {
    return std::nullopt;
  }
  Ran.resize(Size);
  std::wstring Long(MAX_PATH * 4, L'\0'); // the same spelling as the name that ran
  const DWORD Length =
      GetLongPathNameW(Meant.c_str(), Long.data(), static_cast<DWORD>(Long.size()));
  if (Length > 0 && Length < Long.size()) {
    Meant = Long.substr(0, Length);
  }
  if (CompareStringOrdinal(Ran.c_str(), static_cast<int>(Ran.size()), Meant.c_str(),
                           static_cast<int>(Meant.size()), TRUE) == CSTR_EQUAL) {
    return std::nullopt;
  }
  return Ran;
}

// The hexadecimal digits of `Code`, eight of them, in capitals.
std::wstring Hex8(std::uint32_t Code) {
  std::wstring Digits(8, L'0');
  for (std::size_t I = 8; I-- > 0; Code >>= 4) {
    Digits[I] = L"0123456789ABCDEF"[Code & 15];
  }
  return Digits;
}

// The system's message for an exception code, from ntdll's message table,
// its inserts left as they are; empty where it has none (Wine's ntdll has no
// texts at all).
std::wstring SystemExceptionMessage(std::uint32_t Code) {
  wchar_t* Text = nullptr;
  const DWORD Length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"ntdll.dll"), Code, 0, reinterpret_cast<wchar_t*>(&Text), 0, nullptr);
  std::wstring Message = Length != 0 ? std::wstring(Text, Length) : std::wstring();
  LocalFree(Text);
  return Message;
}

} // namespace

RunOutcome RunChild(const std::wstring& Exe, const std::wstring& CommandLine,
                    const std::wstring& WorkingDirectory, bool Wait,
                    const CallerSettings& /*Caller*/) {
  if (!FitsCommandLineBuffer(CommandLine)) {
    return CommandLineTooLong(CommandLine);
  }
  if (auto Refused = RefuseLongDirectory(CommandLine, WorkingDirectory)) {
    return std::move(*Refused);
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
  std::array<wchar_t, kCommandLineBufferUnits> CommandLineBuffer;
  FillCommandLineBuffer(CommandLine, CommandLineBuffer);

  if (Wait) {
    SetConsoleCtrlHandler(OutliveConsoleEvents, TRUE);
  }
  const HANDLE Job = Wait ? JoinKillOnCloseJob() : nullptr;
  if (!CreateProcessW(nullptr, CommandLineBuffer.data(), nullptr, nullptr,
                      Std.Inherited().empty() ? FALSE : TRUE, Flags, nullptr,
                      WorkingDirectory.c_str(), &StartupInfo.StartupInfo, &ProcessInfo)) {
    const DWORD Error = GetLastError();
    LeaveJob(Job);
    return RefusedStart(Error, CommandLine, WorkingDirectory);
  }

  RunOutcome Outcome;
  Outcome.Started = true;
  Outcome.StartedInstead = StartedInstead(Exe, ProcessInfo.hProcess);
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

// An exception code the system or the table knows, except the end by Ctrl-C,
// about which a shell says nothing either. Codes without the top bit set
// (1, 259) are plain exit codes.
std::wstring DescribeAbnormalEnd(const RunOutcome& Outcome) {
  constexpr ReturnCode kControlCExit = 0xC000013A; // STATUS_CONTROL_C_EXIT
  if ((Outcome.Code & 0x80000000U) == 0 || Outcome.Code == kControlCExit) {
    return {};
  }
  const wchar_t* Known = KnownExceptionMeaning(Outcome.Code);
  const std::wstring Meaning =
      Known != nullptr ? Known : ExceptionMeaningFromMessage(SystemExceptionMessage(Outcome.Code));
  if (Meaning.empty()) {
    return {};
  }
  return L"ended with exception 0x" + Hex8(Outcome.Code) + L" (" + Meaning + L")";
}

// The launcher's exit code already tells everything.
void FinishRun(const RunOutcome& Outcome, bool /*Waited*/, const CallerSettings& /*Caller*/,
               void (*WriteStatusLine)(ReturnCode)) {
  WriteStatusLine(Outcome.Code);
}

} // namespace launch
