// Composition and the buffer rule: the line is Exe, one space and CmdLine; it is
// accepted exactly when it leaves room for a terminator in 1024 UTF-16 units,
// and the runner's copy of an accepted line into such a buffer stays inside it
// and reads back as the line.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line.h"
#include "lossless_text.h"
#include "run_flow.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 2) {
    return 0;
  }
  // First two bytes: where Exe ends; the rest is Exe and CmdLine, repeated to
  // reach the lengths around the limit.
  const std::size_t Split = (Data[0] | (Data[1] << 8)) % (Size - 1);
  const std::string_view Rest(reinterpret_cast<const char*>(Data + 2), Size - 2);
  const std::wstring Exe = launch::DecodeLossless(Rest.substr(0, Split));
  std::wstring CmdLine = launch::DecodeLossless(Rest.substr(Split));
  while (!CmdLine.empty() && CmdLine.size() < 900) {
    CmdLine += CmdLine;
  }
  const std::wstring Line = launch::ComposeCommandLine(Exe, L" ", CmdLine);
  if (Line.size() != Exe.size() + 1 + CmdLine.size() || Line.compare(0, Exe.size(), Exe) != 0 ||
      Line[Exe.size()] != L' ' || Line.compare(Exe.size() + 1, CmdLine.size(), CmdLine) != 0) {
    std::abort();
  }
  const std::size_t Units = launch::Utf16Length(Exe) + 1 + launch::Utf16Length(CmdLine);
  const bool Fits = launch::FitsCommandLineBuffer(Line);
  if (Fits != (Units < launch::kCommandLineBufferUnits)) {
    std::abort();
  }
  if (Fits) {
    // The runner's own copy into its buffer (ASan checks the bounds), read
    // back: each character, then zero units to the end.
    std::array<char16_t, launch::kCommandLineBufferUnits> Buffer;
    Buffer.fill(u'#');
    const std::size_t Copied = launch::FillCommandLineBuffer(Line, Buffer);
    std::size_t At = 0;
    for (const wchar_t C : Line) {
      std::uint32_t Code = Buffer.at(At++);
      if (Code >= 0xD800 && Code < 0xDC00) {
        Code = 0x10000 + ((Code - 0xD800) << 10) + (Buffer.at(At++) - 0xDC00u);
      }
      if (Code != static_cast<std::uint32_t>(C)) {
        std::abort();
      }
    }
    if (Copied != Units || At != Units ||
        std::any_of(Buffer.begin() + At, Buffer.end(), [](char16_t U) { return U != 0; })) {
      std::abort();
    }
  } else if (launch::CommandLineTooLong(Line).Code != launch::kStatusLauncherFailed) {
    std::abort();
  }
  return 0;
}
