// The inverse of the C runtime's argument splitting: quotes one argument so
// that splitting gives it back unchanged.
//
//   abc      -> abc          a b   -> "a b"       (empty) -> ""
//   a"b      -> "a\"b"       a\b   -> a\b         a b\    -> "a b\\"
#pragma once

#include <string>

namespace testing_support {

inline std::wstring QuoteArgument(const std::wstring& Arg) {
  if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return Arg;
  }
  std::wstring Out = L"\"";
  std::size_t Backslashes = 0;
  for (const wchar_t C : Arg) {
    if (C == L'\\') {
      ++Backslashes;
      continue;
    }
    Out.append(C == L'"' ? Backslashes * 2 + 1 : Backslashes, L'\\');
    Backslashes = 0;
    Out.push_back(C);
  }
  Out.append(Backslashes * 2, L'\\');
  return Out + L"\"";
}

} // namespace testing_support
