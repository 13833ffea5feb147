// Windows entry: the wide program entry, whose return value becomes the exit
// code with all its 32 bits.
#include "run_flow.h"

// The runtime must hand over the arguments as they were given: a `*.txt`
// meant for the child is not ours to expand.
extern "C" {
int _dowildcard = 0;
}

extern "C" int wmain(int argc, wchar_t** argv) {
  return static_cast<int>(launch::RunLaunch(argc, argv));
}
