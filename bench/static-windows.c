/* The reference for launch.exe's own start: a static C program that writes
   five lines, one WriteFile each, as `launch --version` does, and exits 0.
   Built with launch.exe's hardening flags, it also pays for ADVAPI32 (the
   stack protector's guard). */
#include <windows.h>

#include <stdio.h>

int main(void) {
  const HANDLE Out = GetStdHandle(STD_OUTPUT_HANDLE);
  char Line[80];
  for (int I = 0; I < 5; ++I) {
    const int Size = snprintf(Line, sizeof Line, "static: line %d of %d\r\n", I + 1, 5);
    DWORD Written;
    WriteFile(Out, Line, Size > 0 ? (DWORD)Size : 0, &Written, NULL);
  }
  return 0;
}
