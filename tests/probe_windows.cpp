#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>

#include "probe.h"

extern "C" {
int _dowildcard = 0; // record the arguments exactly as the command line gave them
}

namespace {

// Its own conversion, not the launcher's: the record must not share a fault
// with the code it checks.
std::string ToUtf8(const std::wstring& Text) {
  const auto Units = static_cast<int>(Text.size());
  const int Size =
      WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, nullptr, 0, nullptr, nullptr);
  std::string Bytes(static_cast<std::size_t>(Size > 0 ? Size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, Bytes.data(), Size, nullptr, nullptr);
  return Bytes;
}

// True when the probe holds the handle its caller's caller meant to keep to
// itself: the same value, naming the same file.
bool HoldsHarnessHandle(HANDLE Handle) {
  wchar_t Path[MAX_PATH * 4] = {};
  const DWORD Length = GetFinalPathNameByHandleW(Handle, Path, MAX_PATH * 4, 0);
  return Length > 0 && Length < MAX_PATH * 4 && std::wcsstr(Path, L"harness-only") != nullptr;
}

// What Windows' default handler does with a Ctrl-C (Wine's exits 0 instead).
BOOL WINAPI DieOfInterrupt(DWORD /*Event*/) {
  ExitProcess(0xC000013A); // STATUS_CONTROL_C_EXIT
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
  if (const wchar_t* Out = _wgetenv(L"PROBE_OUT")) {
    std::ofstream Record(ToUtf8(Out), std::ios::binary);
    for (int I = 0; I < argc; ++I) {
      Record << "arg " << probe::Hex(ToUtf8(argv[I])) << '\n';
    }
    wchar_t Cwd[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, Cwd);
    Record << "cwd " << probe::Hex(ToUtf8(Cwd)) << '\n';
    Record << "std";
    for (const DWORD Which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      Record << ' ' << GetFileType(GetStdHandle(Which));
    }
    Record << '\n';
    DWORD Ids[1] = {};
    if (GetConsoleProcessList(Ids, 1) != 0) {
      Record << "console\n";
    }
    const auto Extra = static_cast<std::uintptr_t>(probe::EnvNumber("PROBE_HARNESS_HANDLE"));
    if (Extra != 0 && HoldsHarnessHandle(reinterpret_cast<HANDLE>(Extra))) {
      Record << "fd " << Extra << '\n';
    }
  }
  if (const char* Say = std::getenv("PROBE_SAY")) {
    std::printf("%s\n", Say);
    std::fflush(stdout);
  }
  if (probe::EnvNumber("PROBE_GROUP_SIGNAL") == 2) {
    SetConsoleCtrlHandler(DieOfInterrupt, TRUE);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
      std::fprintf(stderr, "probe: GenerateConsoleCtrlEvent: error %lu\n", GetLastError());
    }
    Sleep(20000); // the handler ends the probe long before
  }
  if (const auto Ms = probe::EnvNumber("PROBE_SLEEP_MS"); Ms > 0) {
    Sleep(Ms);
  }
  if (const wchar_t* Touch = _wgetenv(L"PROBE_TOUCH")) {
    std::ofstream(Touch).put('\n');
  }
  ExitProcess(static_cast<UINT>(probe::EnvNumber("PROBE_EXIT")));
}
