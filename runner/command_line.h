// Platform-neutral command-line helpers shared by the runners.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run_request.h"

namespace launch {

// The command line is handed to the platform in a writable buffer of this many
// UTF-16 units; at least one zero unit must follow the text.
inline constexpr std::size_t kCommandLineBufferUnits = 1024;

// Length of `Text` in UTF-16 code units: a character outside the Basic
// Multilingual Plane counts two. (On Windows wchar_t already is a UTF-16 unit.)
std::size_t Utf16Length(std::wstring_view Text);

// True when `CommandLine` fits the buffer with its terminating zero unit.
bool FitsCommandLineBuffer(std::wstring_view CommandLine);

// Fills `Buffer` with zero units, then copies `CommandLine` into its start as
// UTF-16 units (a character outside the Basic Multilingual Plane, which only
// a 32-bit wchar_t holds, as its surrogate pair). The line must fit
// (FitsCommandLineBuffer), so at least one zero unit follows it. Returns the
// number of units copied.
template <typename Unit>
std::size_t FillCommandLineBuffer(std::wstring_view CommandLine,
                                  std::array<Unit, kCommandLineBufferUnits>& Buffer) {
  static_assert(sizeof(Unit) == 2, "the buffer holds UTF-16 units");
  Buffer.fill(0);
  std::size_t At = 0;
  for (const wchar_t C : CommandLine) {
    // A code point, never negative (clang-tidy takes a 32-bit wchar_t for a char).
    // NOLINTNEXTLINE(bugprone-signed-char-misuse)
    const auto Code = static_cast<std::uint32_t>(C);
    if (Code > 0xFFFF) {
      Buffer[At++] = static_cast<Unit>(0xD800 + ((Code - 0x10000) >> 10));
      Buffer[At++] = static_cast<Unit>(0xDC00 + (Code & 0x3FF));
    } else {
      Buffer[At++] = static_cast<Unit>(Code);
    }
  }
  return At;
}

// The outcome for a command line that does not fit the buffer: not started,
// kStatusLauncherFailed, with its length and the limit as the reason.
RunOutcome CommandLineTooLong(std::wstring_view CommandLine);

// Splits a command line the way a Windows C runtime splits its own (the rules in
// force since 2008):
//
//   program name: ends at the first space or tab outside quotes; quotes toggle
//                 quoting and are dropped; backslashes are literal.
//   arguments:    separated by runs of spaces and tabs;
//                 2n backslashes + "      -> n backslashes, the quote toggles quoting
//                 2n+1 backslashes + "    -> n backslashes and a literal quote
//                 backslashes elsewhere   -> literal
//                 "" inside quotes        -> a literal quote, quoting goes on
//                 end of line in quotes   -> ends the last argument (even an empty one)
//
//   a b\c "d e"            -> [a] [b\c] [d e]
//   "C:\x y\p.exe" \"q\"   -> [C:\x y\p.exe] ["q"]
//   p a\\\\"b c"           -> [p] [a\\b c]
//   p "a""b" ""            -> [p] [a"b] []
//
// The result always holds the program name first (possibly empty). No wildcard
// is expanded.
std::vector<std::wstring> SplitCommandLine(std::wstring_view Line);

} // namespace launch
