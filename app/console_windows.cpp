// Windows: a console gets the wide text itself; a pipe or a file gets UTF-8.
// Lines end in CR LF, as a text-mode C runtime would write them.
#include <windows.h>

#include <algorithm>
#include <string>

#include "console.h"
#include "system_error.h"

namespace launch {

namespace {

// The Windows 7 console refuses a write much above 64 KiB (not enough memory);
// 16K UTF-16 units keep each piece well below that.
constexpr std::size_t kConsolePiece = 1 << 14;

// Writes `Size` units in pieces, each as long as `PieceEnd` allows from where
// the last one ended.
template <typename End, typename Write>
std::optional<RunFailure> WriteAll(std::size_t Size, End PieceEnd, Write WriteSome) {
  std::size_t Done = 0;
  while (Done < Size) {
    DWORD Written = 0;
    const auto Chunk = static_cast<DWORD>(PieceEnd(Done) - Done);
    if (!WriteSome(Done, Chunk, Written)) {
      const DWORD Error = GetLastError();
      return FailureFor(Error);
    }
    if (Written == 0) {
      return RunFailure{L"nothing was written", std::nullopt, std::nullopt};
    }
    Done += Written;
  }
  return std::nullopt;
}

std::string ToUtf8(const std::wstring& Text) {
  const auto Units = static_cast<int>(Text.size());
  const int Size =
      WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, nullptr, 0, nullptr, nullptr);
  std::string Bytes(static_cast<std::size_t>(Size > 0 ? Size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, Bytes.data(), Size, nullptr, nullptr);
  return Bytes;
}

std::optional<RunFailure> WriteLine(DWORD Which, std::wstring_view Line) {
  const HANDLE Handle = GetStdHandle(Which);
  if (Handle == nullptr || Handle == INVALID_HANDLE_VALUE) {
    return RunFailure{L"no such standard handle", std::nullopt, std::nullopt};
  }
  std::wstring Text(Line);
  Text += L"\r\n";
  DWORD Mode = 0;
  if (GetConsoleMode(Handle, &Mode)) {
    return WriteAll(
        Text.size(), [&](std::size_t From) { return ConsolePieceEnd(Text, From, kConsolePiece); },
        [&](std::size_t From, DWORD Count, DWORD& Written) {
          return WriteConsoleW(Handle, Text.data() + From, Count, &Written, nullptr) != 0;
        });
  }
  // An unpaired surrogate has no UTF-8 form: it arrives as U+FFFD.
  const std::string Bytes = ToUtf8(Text);
  return WriteAll(
      Bytes.size(),
      [&](std::size_t From) { return From + std::min<std::size_t>(Bytes.size() - From, 1 << 20); },
      [&](std::size_t From, DWORD Count, DWORD& Written) {
        return WriteFile(Handle, Bytes.data() + From, Count, &Written, nullptr) != 0;
      });
}

} // namespace

std::optional<RunFailure> WriteOutputLine(std::wstring_view Line) {
  return WriteLine(STD_OUTPUT_HANDLE, Line);
}

std::optional<RunFailure> WriteErrorLine(std::wstring_view Line) {
  return WriteLine(STD_ERROR_HANDLE, Line);
}

} // namespace launch
