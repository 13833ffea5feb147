// The launcher's two text channels. Each call writes one whole line and ends it
// with the platform's newline; nothing is buffered, so a line is out before the
// call returns. A line that cannot be written is given up, and the call says
// why; the report's callers go on regardless, so its status is not affected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run_request.h"

namespace launch {

// The report, on standard output. Returns why the line could not be written
// whole, or nothing when it was.
std::optional<RunFailure> WriteOutputLine(std::wstring_view Line);

// Diagnostics, on standard error.
std::optional<RunFailure> WriteErrorLine(std::wstring_view Line);

// Where the piece of `Text` that starts at `From` ends when a console takes at
// most `Most` units at a time: `Most` units on (or the end of the text), one
// fewer where that would part a surrogate pair, whose halves must go together.
inline std::size_t ConsolePieceEnd(std::wstring_view Text, std::size_t From, std::size_t Most) {
  std::size_t End = Text.size() - From > Most ? From + Most : Text.size();
  const auto IsHigh = [](wchar_t C) { return C >= 0xD800 && C <= 0xDBFF; };
  const auto IsLow = [](wchar_t C) { return C >= 0xDC00 && C <= 0xDFFF; };
  if (End < Text.size() && End - From > 1 && IsHigh(Text[End - 1]) && IsLow(Text[End])) {
    --End;
  }
  return End;
}

} // namespace launch
