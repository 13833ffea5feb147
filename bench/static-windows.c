/* The reference for launch.exe's own start: a static C program that writes
   five lines, as `launch --version` does, and exits 0. Built with launch.exe's
   hardening flags, it also pays for ADVAPI32 (the stack protector's guard). */
#include <stdio.h>

int main(int argc, char** argv) {
  char Line[80];
  for (int I = 0; I < 5; ++I) {
    snprintf(Line, sizeof Line, "%s: line %d of %d", argc > 0 ? argv[0] : "static", I + 1, 5);
    puts(Line);
  }
  return 0;
}
