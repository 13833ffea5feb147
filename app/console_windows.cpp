// Windows: a console gets the wide text itself; a pipe or a file gets UTF-8.
// Lines end in CR LF, as a text-mode C runtime would write them.
#include <windows.h>

#include <string>

#include "console.h"

namespace launch {

namespace {

template <typename Write> void WriteAll(std::size_t Size, Write WriteSome) {
  std::size_t Done = 0;
  while (Done < Size) {
    DWORD Written = 0;
    const auto Chunk = static_cast<DWORD>(std::min<std::size_t>(Size - Done, 1 << 20));
    if (!WriteSome(Done, Chunk, Written) || Written == 0) {
      return; // closed or full: the line is lost, the run is not
    }
    Done += Written;
  }
}

std::string ToUtf8(const std::wstring& Text) {
  const auto Units = static_cast<int>(Text.size());
  const int Size =
      WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, nullptr, 0, nullptr, nullptr);
  std::string Bytes(static_cast<std::size_t>(Size > 0 ? Size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), Units, Bytes.data(), Size, nullptr, nullptr);
  return Bytes;
}

void WriteLine(DWORD Which, std::wstring_view Line) {
  const HANDLE Handle = GetStdHandle(Which);
  if (Handle == nullptr || Handle == INVALID_HANDLE_VALUE) {
    return;
  }
  std::wstring Text(Line);
  Text += L"\r\n";
  DWORD Mode = 0;
  if (GetConsoleMode(Handle, &Mode)) {
    WriteAll(Text.size(), [&](std::size_t From, DWORD Count, DWORD& Written) {
      return WriteConsoleW(Handle, Text.data() + From, Count, &Written, nullptr) != 0;
    });
    return;
  }
  const std::string Bytes = ToUtf8(Text);
  WriteAll(Bytes.size(), [&](std::size_t From, DWORD Count, DWORD& Written) {
    return WriteFile(Handle, Bytes.data() + From, Count, &Written, nullptr) != 0;
  });
}

} // namespace

void WriteOutputLine(std::wstring_view Line) {
  WriteLine(STD_OUTPUT_HANDLE, Line);
}

void WriteErrorLine(std::wstring_view Line) {
  WriteLine(STD_ERROR_HANDLE, Line);
}

} // namespace launch
