#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

#include "harness.h"
#include "probe.h"
#include "quote_argument.h"

namespace harness {

namespace {

std::wstring Wide(const std::string& Utf8) {
  const auto Bytes = static_cast<int>(Utf8.size());
  const int Size = MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), Bytes, nullptr, 0);
  std::wstring Text(static_cast<std::size_t>(Size > 0 ? Size : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), Bytes, Text.data(), Size);
  return Text;
}

std::wstring EnvironmentBlock(const std::vector<std::string>& Extra) {
  std::vector<std::wstring> Entries;
  for (const auto& E : Extra) {
    Entries.push_back(Wide(E));
  }
  wchar_t* Strings = GetEnvironmentStringsW();
  for (const wchar_t* Entry = Strings; *Entry != L'\0'; Entry += wcslen(Entry) + 1) {
    const std::wstring Item(Entry);
    const std::wstring Name = Item.substr(0, Item.find(L'=', 1) + 1);
    bool Replaced = false;
    for (const auto& E : Extra) {
      Replaced = Replaced || _wcsnicmp(Wide(E).c_str(), Name.c_str(), Name.size()) == 0;
    }
    if (!Replaced) {
      Entries.push_back(Item);
    }
  }
  FreeEnvironmentStringsW(Strings);
  std::wstring Block;
  for (const auto& E : Entries) {
    Block += E;
    Block.push_back(L'\0');
  }
  Block.push_back(L'\0');
  return Block;
}

HANDLE Inheritable(const std::wstring& Path, DWORD Access, DWORD Disposition) {
  SECURITY_ATTRIBUTES Security{sizeof(Security), nullptr, TRUE};
  return CreateFileW(Path.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE, &Security,
                     Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// What the pipe holds once its writers are gone or have said all they will;
// never blocks on a writer that lives on (a child started without the wait).
std::string Drain(HANDLE Pipe) {
  std::string Bytes;
  DWORD Available = 0;
  while (PeekNamedPipe(Pipe, nullptr, 0, nullptr, &Available, nullptr) && Available > 0) {
    std::string Chunk(Available, '\0');
    DWORD Read = 0;
    if (!::ReadFile(Pipe, Chunk.data(), Available, &Read, nullptr)) {
      break;
    }
    Bytes.append(Chunk, 0, Read);
  }
  return Bytes;
}

// Every wait below ends by this deadline.
bool WaitUntil(ULONGLONG Ms, const std::function<bool()>& Done) {
  for (const ULONGLONG End = GetTickCount64() + Ms; !Done(); Sleep(20)) {
    if (GetTickCount64() > End) {
      return false;
    }
  }
  return true;
}

// True while a process that `Root` started, or one of theirs, is still listed.
bool HasDescendants(DWORD Root) {
  std::vector<DWORD> Tree = {Root};
  for (std::size_t Known = 0; Known != Tree.size();) {
    Known = Tree.size();
    const HANDLE Snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W Entry{};
    Entry.dwSize = sizeof(Entry);
    for (BOOL More = Process32FirstW(Snapshot, &Entry); More;
         More = Process32NextW(Snapshot, &Entry)) {
      if (std::count(Tree.begin(), Tree.end(), Entry.th32ParentProcessID) != 0 &&
          std::count(Tree.begin(), Tree.end(), Entry.th32ProcessID) == 0) {
        Tree.push_back(Entry.th32ProcessID);
      }
    }
    CloseHandle(Snapshot);
  }
  return Tree.size() > 1;
}

// Points the import slot of `Call` ("Name@ArgumentBytes") in the program's
// image at a stub in its memory that sets error 5 (access denied) and returns 0.
void FailImport(HANDLE Process, const std::string& Call) {
  const std::string Name = Call.substr(0, Call.find('@'));
  // mov dword [TEB LastErrorValue], 5; xor eax, eax; ret (ret N: 32-bit stdcall)
  const std::string Stub =
      sizeof(void*) == 8 ? std::string("\x65\xC7\x04\x25\x68\0\0\0\x05\0\0\0\x31\xC0\xC3", 15)
                         : std::string("\x64\xC7\x05\x34\0\0\0\x05\0\0\0\x31\xC0\xC2", 14) +
                               static_cast<char>(std::stoi(Call.substr(Name.size() + 1))) + '\0';
  void* Code = VirtualAllocEx(Process, nullptr, Stub.size(), MEM_COMMIT, PAGE_EXECUTE_READWRITE);
  WriteProcessMemory(Process, Code, Stub.data(), Stub.size(), nullptr);
  PROCESS_BASIC_INFORMATION Basic{}; // the image base is the PEB's third pointer
  reinterpret_cast<LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*)>(
      reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")))(
      Process, ProcessBasicInformation, &Basic, sizeof(Basic), nullptr);
  BYTE* Base = nullptr;
  const auto Read = [&](const void* At, void* To, SIZE_T Size) {
    ReadProcessMemory(Process, At, To, Size, nullptr);
  };
  Read(reinterpret_cast<void**>(Basic.PebBaseAddress) + 2, &Base, sizeof(Base));
  IMAGE_DOS_HEADER Dos{};
  Read(Base, &Dos, sizeof(Dos));
  IMAGE_NT_HEADERS Nt{};
  Read(Base + Dos.e_lfanew, &Nt, sizeof(Nt));
  IMAGE_IMPORT_DESCRIPTOR Dll{};
  BYTE* Next = Base + Nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (Read(Next, &Dll, sizeof(Dll)); Dll.Name != 0; Read(Next += sizeof(Dll), &Dll, sizeof(Dll))) {
    ULONG_PTR Entry = 0;
    for (SIZE_T Slot = 0; Slot == 0 || Entry != 0; Slot += sizeof(Entry)) {
      Read(Base + Dll.OriginalFirstThunk + Slot, &Entry, sizeof(Entry));
      char Found[64] = {};
      Read(Base + Entry + 2, Found, Entry != 0 && !IMAGE_SNAP_BY_ORDINAL(Entry) ? 63 : 0);
      DWORD Was = 0;
      if (Name == Found && VirtualProtectEx(Process, Base + Dll.FirstThunk + Slot, sizeof(Code),
                                            PAGE_READWRITE, &Was)) {
        WriteProcessMemory(Process, Base + Dll.FirstThunk + Slot, &Code, sizeof(Code), nullptr);
      }
    }
  }
}

// The test program itself is on the console a Ctrl-C goes to.
BOOL WINAPI OutliveInterrupt(DWORD Event) {
  return Event == CTRL_C_EVENT ? TRUE : FALSE;
}

} // namespace

Result Run(const std::string& Program, const std::vector<std::string>& Args, const Options& Opts) {
  const std::string Dir = NewTempDir();
  const std::wstring ProgramPath = Wide(NativePath(Program));
  std::wstring CommandLine =
      Opts.Argv0.empty() ? testing_support::QuoteArgument(ProgramPath) : Wide(Opts.Argv0);
  for (const auto& Arg : Args) {
    CommandLine += L" " + testing_support::QuoteArgument(Wide(Arg));
  }
  SetConsoleCtrlHandler(OutliveInterrupt, TRUE);
  // A handle the program gets but must not pass on.
  const HANDLE Extra = Inheritable(Wide(Dir + "\\harness-only"), GENERIC_WRITE, CREATE_ALWAYS);
  std::vector<std::string> Env = Opts.Env;
  Env.push_back("PROBE_HARNESS_HANDLE=" + std::to_string(reinterpret_cast<std::uintptr_t>(Extra)));
  std::wstring Environment = EnvironmentBlock(Env);

  STARTUPINFOW Startup{};
  Startup.cb = sizeof(Startup);
  Startup.dwFlags = STARTF_USESTDHANDLES;
  // stdin an empty file: a console or NUL in its place would show (both are
  // character devices).
  Startup.hStdInput = Inheritable(Wide(Dir + "\\in"), GENERIC_READ, CREATE_ALWAYS);
  // stdout is a pipe, as for a script that reads the report; stderr a file.
  HANDLE OutRead = nullptr;
  SECURITY_ATTRIBUTES Security{sizeof(Security), nullptr, TRUE};
  CreatePipe(&OutRead, &Startup.hStdOutput, &Security, 1 << 16);
  SetHandleInformation(OutRead, HANDLE_FLAG_INHERIT, 0);
  Startup.hStdError = Inheritable(Wide(Dir + "\\err"), GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION Process{};
  const std::wstring CallerDir = Wide(NativePath(Opts.CallerDir));
  const BOOL Started = CreateProcessW(
      Opts.Argv0.empty() ? nullptr : ProgramPath.c_str(), CommandLine.data(), nullptr, nullptr,
      TRUE, CREATE_UNICODE_ENVIRONMENT | (Opts.Detached ? DETACHED_PROCESS : 0), Environment.data(),
      CallerDir.empty() ? nullptr : CallerDir.c_str(), &Startup, &Process);
  CloseHandle(Startup.hStdInput);
  CloseHandle(Startup.hStdOutput);
  CloseHandle(Startup.hStdError);
  CloseHandle(Extra);
  if (!Started) {
    throw std::runtime_error("cannot start " + Program);
  }
  Result R;
  if (Opts.Key == Terminal::HangUp || !Opts.FailingCall.empty()) {
    const std::wstring Path = Wide(NativePath(Opts.ReadyFile));
    WaitUntil(20000, [&] { return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES; });
  }
  if (!Opts.FailingCall.empty()) {
    FailImport(Process.hProcess, Opts.FailingCall);
  }
  if (Opts.Key == Terminal::HangUp) { // as Windows delivers it: a thread at CtrlRoutine
    const auto Routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
    CloseHandle(CreateRemoteThread(Process.hProcess, nullptr, 0, Routine,
                                   reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr));
  }
  if (!Opts.EndOnceExists.empty() || Opts.EndAfterOutputMs >= 0) {
    const std::wstring Path = Wide(NativePath(Opts.EndOnceExists));
    DWORD Output = 0;
    WaitUntil(20000, [&] {
      return Path.empty() ? PeekNamedPipe(OutRead, nullptr, 0, nullptr, &Output, nullptr) && Output
                          : GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    Sleep(Opts.EndAfterOutputMs > 0 ? Opts.EndAfterOutputMs : 0);
    TerminateProcess(Process.hProcess, 0xDEAD);
    WaitForSingleObject(Process.hProcess, 20000);
    R.StdoutClosed = WaitUntil(3000, [&] { // until no writer of stdout is left
      R.Out += Drain(OutRead);
      return !PeekNamedPipe(OutRead, nullptr, 0, nullptr, nullptr, nullptr) &&
             GetLastError() == ERROR_BROKEN_PIPE;
    });
    // Wine: a process its server ended at its birth may live on in Unix,
    // holding the pipe, though no longer a process of the system's. Only a
    // process still listed counts as left behind.
    R.StdoutClosed = R.StdoutClosed || !HasDescendants(Process.dwProcessId);
  }
  if (WaitForSingleObject(Process.hProcess, 120000) != WAIT_OBJECT_0) {
    TerminateProcess(Process.hProcess, 0xDEAD);
  }
  DWORD Code = 0;
  GetExitCodeProcess(Process.hProcess, &Code);
  CloseHandle(Process.hProcess);
  CloseHandle(Process.hThread);
  R.Status = Code;
  R.Out += Drain(OutRead);
  R.Err = ReadFile(Dir + "\\err");
  CloseHandle(OutRead);
  return R;
}

bool IsWindows() {
  return true;
}

std::string NativePath(const std::string& Path) {
  std::string Native = !Path.empty() && Path.front() == '/' ? "Z:" + Path : Path;
  for (char& C : Native) {
    C = C == '/' ? '\\' : C;
  }
  return Native;
}

std::string LauncherPath() {
  return NativePath(LAUNCH_EXE);
}

std::string ProbePath() {
  return NativePath(PROBE_EXE);
}

std::string NewTempDir() {
  static unsigned Counter = 0;
  const std::string Root = NativePath(LAUNCH_TEST_TMP);
  CreateDirectoryW(Wide(Root).c_str(), nullptr);
  // Process ids repeat across Wine sessions: take the next free name.
  for (;;) {
    const std::string Dir =
        Root + "\\case-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++Counter);
    if (CreateDirectoryW(Wide(Dir).c_str(), nullptr)) {
      return Dir;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      throw std::runtime_error("cannot create " + Dir);
    }
  }
}

std::string ReadFile(const std::string& Path) {
  return probe::ReadFile(NativePath(Path));
}

std::string SetuidCopy(const std::string& /*Program*/) {
  return {};
}

std::string DeepDirectory(const std::string& /*Under*/, const std::string& /*Program*/) {
  return {};
}

int CopyHeldForWriting(const std::string& /*Program*/, const std::string& /*Path*/) {
  return -1;
}

void Release(int /*Held*/) {}

std::string FileVersion(const std::string& Path) {
  const std::wstring Name = Wide(NativePath(Path));
  DWORD Ignored = 0;
  std::string Block(GetFileVersionInfoSizeW(Name.c_str(), &Ignored), '\0');
  VS_FIXEDFILEINFO* Info = nullptr;
  UINT Size = 0;
  if (Block.empty() ||
      !GetFileVersionInfoW(Name.c_str(), 0, static_cast<DWORD>(Block.size()), Block.data()) ||
      !VerQueryValueW(Block.data(), L"\\", reinterpret_cast<void**>(&Info), &Size)) {
    return {};
  }
  return std::to_string(HIWORD(Info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(Info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(Info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(Info->dwFileVersionLS));
}

void WriteFile(const std::string& Path, const std::string& Text, bool /*Executable*/) {
  std::ofstream(NativePath(Path), std::ios::binary) << Text;
}

// Windows refuses a long command line before the launcher runs; the
// environment has no shared limit with it.
std::vector<std::string> EnvironmentFiller(std::size_t /*Used*/, std::size_t /*Short*/) {
  return {};
}

bool EndsSoon(int /*Pid*/) {
  return true; // only called with a pid from a POSIX probe's record
}

} // namespace harness
