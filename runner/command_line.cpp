#include "command_line.h"

#include <cstdint>

namespace launch {

namespace {

bool IsBlank(wchar_t C) {
  return C == L' ' || C == L'\t';
}

// Reads the program name starting at `Pos`; returns the position after it.
std::size_t ReadProgramName(std::wstring_view Line, std::size_t Pos, std::wstring& Out) {
  bool Quoted = false;
  for (; Pos < Line.size(); ++Pos) {
    const wchar_t C = Line[Pos];
    if (C == L'"') {
      Quoted = !Quoted;
    } else if (IsBlank(C) && !Quoted) {
      break;
    } else {
      Out.push_back(C);
    }
  }
  return Pos;
}

// Reads one argument starting at `Pos` (not a blank); returns the position after it.
std::size_t ReadArgument(std::wstring_view Line, std::size_t Pos, std::wstring& Out) {
  bool Quoted = false;
  while (Pos < Line.size()) {
    const wchar_t C = Line[Pos];
    if (IsBlank(C) && !Quoted) {
      break;
    }
    if (C == L'\\') {
      std::size_t Count = 0;
      while (Pos < Line.size() && Line[Pos] == L'\\') {
        ++Count;
        ++Pos;
      }
      if (Pos < Line.size() && Line[Pos] == L'"') {
        Out.append(Count / 2, L'\\');
        if (Count % 2 == 1) {
          Out.push_back(L'"');
          ++Pos;
        }
      } else {
        Out.append(Count, L'\\');
      }
    } else if (C == L'"') {
      if (Quoted && Pos + 1 < Line.size() && Line[Pos + 1] == L'"') {
        Out.push_back(L'"');
        Pos += 2;
      } else {
        Quoted = !Quoted;
        ++Pos;
      }
    } else {
      Out.push_back(C);
      ++Pos;
    }
  }
  return Pos;
}

} // namespace

std::size_t Utf16Length(std::wstring_view Text) {
  std::size_t Units = 0;
  for (const wchar_t C : Text) {
    // Beyond the BMP (possible only where wchar_t holds 32 bits): a surrogate pair.
    Units += (static_cast<std::uint32_t>(C) >> 16) != 0 ? 2 : 1;
  }
  return Units;
}

bool FitsCommandLineBuffer(std::wstring_view CommandLine) {
  return Utf16Length(CommandLine) < kCommandLineBufferUnits;
}

RunOutcome CommandLineTooLong(std::wstring_view CommandLine) {
  RunOutcome Outcome;
  Outcome.Code = kStatusLauncherFailed;
  Outcome.Failure =
      RunFailure{L"command line too long: " + std::to_wstring(Utf16Length(CommandLine)) +
                     L" UTF-16 units, the limit is " + std::to_wstring(kCommandLineBufferUnits - 1),
                 std::nullopt, std::nullopt};
  return Outcome;
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view Line) {
  std::vector<std::wstring> Parts(1);
  std::size_t Pos = ReadProgramName(Line, 0, Parts.front());
  for (;;) {
    while (Pos < Line.size() && IsBlank(Line[Pos])) {
      ++Pos;
    }
    if (Pos == Line.size()) {
      return Parts;
    }
    Pos = ReadArgument(Line, Pos, Parts.emplace_back());
  }
}

} // namespace launch
