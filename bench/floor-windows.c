/* The floor for a Windows launcher: starts the rest of its own command line
   on its own standard handles and console, waits for it and exits with its
   exit code; nothing else. */
#include <windows.h>

int main(void) {
  wchar_t* Line = GetCommandLineW();
  int Quoted = 0;
  for (; *Line != L'\0' && (Quoted || (*Line != L' ' && *Line != L'\t')); ++Line) {
    Quoted ^= *Line == L'"';
  }
  while (*Line == L' ' || *Line == L'\t') {
    ++Line;
  }
  STARTUPINFOW Startup;
  ZeroMemory(&Startup, sizeof Startup);
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  Startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  Startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION Process;
  DWORD Code = 125;
  if (!CreateProcessW(NULL, Line, NULL, NULL, TRUE, 0, NULL, NULL, &Startup, &Process)) {
    return 125;
  }
  WaitForSingleObject(Process.hProcess, INFINITE);
  GetExitCodeProcess(Process.hProcess, &Code);
  return (int)Code;
}
