#include <windows.h>

#include <algorithm>

#include "system_error.h"

namespace launch {

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
