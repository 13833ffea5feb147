// Splitting any command line must not crash, always yields a program name, and
// gives back any list of arguments that was quoted for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line.h"
#include "lossless_text.h"
#include "quote_argument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::wstring Line =
      launch::DecodeLossless(std::string_view(reinterpret_cast<const char*>(Data), Size));
  const std::vector<std::wstring> Parts = launch::SplitCommandLine(Line);
  if (Parts.empty()) {
    std::abort();
  }
  // The split arguments, quoted again, must split back to themselves.
  std::wstring Requoted = L"p";
  for (std::size_t I = 1; I < Parts.size(); ++I) {
    Requoted += L" " + testing_support::QuoteArgument(Parts[I]);
  }
  std::vector<std::wstring> Expected = Parts;
  Expected.front() = L"p";
  if (launch::SplitCommandLine(Requoted) != Expected) {
    std::abort();
  }
  return 0;
}
