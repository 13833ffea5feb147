/* Times Windows command lines from inside Windows (or Wine): starts each in
   turn, round after round, waits for it, and prints per line the median, the
   fastest and the slowest start-to-end time in microseconds. Round-robin, so
   that a slow spell of the machine hits every line alike. "detached": each
   program starts without a console (DETACHED_PROCESS), as under a service or a
   console-less caller; "console": on the timer's console. Output goes to NUL.
   Usage: timer RUNS console|detached COMMAND-LINE...   Exit status 1 when a
   line cannot be started or does not end with 0. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static int Compare(const void* A, const void* B) {
  const double X = *(const double*)A, Y = *(const double*)B;
  return X < Y ? -1 : X > Y;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fputs("usage: timer RUNS console|detached COMMAND-LINE...\n", stderr);
    return 2;
  }
  const int Runs = _wtoi(argv[1]), Lines = argc - 3;
  const DWORD Flags = wcscmp(argv[2], L"detached") == 0 ? DETACHED_PROCESS : 0;
  DWORD Ids[1];
  if (Flags == 0 && GetConsoleProcessList(Ids, 1) == 0) {
    fputs("timer: no console to time on (under Wine: run it in a terminal, or in script)\n",
          stderr);
    return 1;
  }
  SECURITY_ATTRIBUTES Inherit = {sizeof Inherit, NULL, TRUE};
  const HANDLE Nul =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &Inherit, OPEN_EXISTING, 0, NULL);
  STARTUPINFOW Startup;
  ZeroMemory(&Startup, sizeof Startup);
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = Startup.hStdOutput = Startup.hStdError = Nul;
  LARGE_INTEGER Frequency;
  QueryPerformanceFrequency(&Frequency);
  double* Us = calloc((size_t)(Runs * Lines), sizeof *Us);
  static wchar_t Line[32768];
  for (int Run = 0; Run < Runs; ++Run) {
    for (int L = 0; L < Lines; ++L) {
      wcsncpy(Line, argv[3 + L], 32767);
      PROCESS_INFORMATION Process;
      LARGE_INTEGER Start, End;
      QueryPerformanceCounter(&Start);
      if (!CreateProcessW(NULL, Line, NULL, NULL, TRUE, Flags, NULL, NULL, &Startup, &Process)) {
        fwprintf(stderr, L"timer: cannot start %ls: error %lu\n", argv[3 + L], GetLastError());
        return 1;
      }
      WaitForSingleObject(Process.hProcess, INFINITE);
      QueryPerformanceCounter(&End);
      DWORD Code = 1;
      GetExitCodeProcess(Process.hProcess, &Code);
      CloseHandle(Process.hProcess);
      CloseHandle(Process.hThread);
      if (Code != 0) {
        fwprintf(stderr, L"timer: %ls ended with %lu\n", argv[3 + L], Code);
        return 1;
      }
      Us[L * Runs + Run] = (double)(End.QuadPart - Start.QuadPart) * 1e6 / Frequency.QuadPart;
    }
  }
  for (int L = 0; L < Lines; ++L) {
    double* Mine = Us + L * Runs;
    qsort(Mine, (size_t)Runs, sizeof *Mine, Compare);
    printf("%.0f %.0f %.0f\n", Mine[Runs / 2], Mine[0], Mine[Runs - 1]);
  }
  return 0;
}
