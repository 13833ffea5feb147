// POSIX entry: arguments arrive as bytes and become wide text losslessly; the
// 32-bit status is narrowed to the 8 bits a POSIX exit status holds.
#include <algorithm>
#include <string>
#include <vector>

#include "lossless_text.h"
#include "run_flow.h"

namespace {

// 0..255 pass as they are; anything larger (259 for a child still running)
// saturates at 255 rather than wrapping around to an unrelated code.
int ToExitStatus(launch::ReturnCode Code) {
  return static_cast<int>(std::min<launch::ReturnCode>(Code, 255));
}

} // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> Args;
  Args.reserve(static_cast<std::size_t>(argc));
  for (int I = 0; I < argc; ++I) {
    Args.push_back(launch::DecodeLossless(argv[I]));
  }
  std::vector<const wchar_t*> Pointers;
  Pointers.reserve(Args.size());
  for (const auto& Arg : Args) {
    Pointers.push_back(Arg.c_str());
  }
  return ToExitStatus(launch::RunLaunch(argc, Pointers.data()));
}
