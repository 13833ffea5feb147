// Windows entry: the launcher reads its own arguments from the process command
// line with the Universal CRT's rules (SplitCommandLine), not with those of the
// system msvcrt.dll, whose reading of "" inside quotes depends on the Windows
// version. The return value becomes the exit code with all its 32 bits.
#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "run_flow.h"

// The runtime still splits the line at start-up, for nobody: it need not look
// for files to expand wildcards into.
extern "C" {
int _dowildcard = 0;
}

extern "C" int wmain(int /*argc*/, wchar_t** /*argv*/) {
  const std::vector<std::wstring> Args = launch::SplitCommandLine(GetCommandLineW());
  std::vector<const wchar_t*> Pointers;
  Pointers.reserve(Args.size());
  for (const auto& Arg : Args) {
    Pointers.push_back(Arg.c_str());
  }
  return static_cast<int>(launch::RunLaunch(static_cast<int>(Args.size()), Pointers.data()));
}
