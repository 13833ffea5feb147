// Windows: a console gets the wide text itself; a pipe or a file gets UTF-8.
// Lines end in CR LF, as a text-mode C runtime would write them.
#include <windows.h>

#include <algorithm>
#include <string>

#include "console.h"

namespace launch {

namespace {

template <typename Write> std::optional<RunFailure> WriteAll(std::size_t Size, Write WriteSome) {
  std::size_t Done = 0;
  while (Done < Size) {
    DWORD Written = 0;
    const auto Chunk = static_cast<DWORD>(std::min<std::size_t>(Size - Done, 1 << 20));
    if (!WriteSome(Done, Chunk, Written)) {
      const DWORD Error = GetLastError();
      return RunFailure{SystemReason(Error), Error, std::nullopt};
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
    return WriteAll(Text.size(), [&](std::size_t From, DWORD Count, DWORD& Written) {
      return WriteConsoleW(Handle, Text.data() + From, Count, &Written, nullptr) != 0;
    });
  }
  // An unpaired surrogate has no UTF-8 form: it arrives as U+FFFD.
  const std::string Bytes = ToUtf8(Text);
  return WriteAll(Bytes.size(), [&](std::size_t From, DWORD Count, DWORD& Written) {
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

std::wstring SystemReason(std::uint32_t Error) {
  wchar_t* Text = nullptr;
  // MAX_WIDTH_MASK joins a message's lines into one; "%1" stays for the
  // caller to fill in.
  const DWORD Length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     nullptr, Error, 0, reinterpret_cast<wchar_t*>(&Text), 0, nullptr);
  std::wstring Reason = Length != 0 ? std::wstring(Text, Length) : L"unknown error";
  LocalFree(Text);
  // A hard line break inside a message would still split the stderr line.
  std::replace_if(
      Reason.begin(), Reason.end(), [](wchar_t C) { return C == L'\r' || C == L'\n'; }, L' ');
  // System messages end in a full stop (and a blank); the line adds its own end.
  while (!Reason.empty() && (Reason.back() == L' ' || Reason.back() == L'.')) {
    Reason.pop_back();
  }
  return Reason;
}

} // namespace launch
