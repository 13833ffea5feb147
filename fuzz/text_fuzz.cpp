// Any bytes survive the trip to wide text and back, and wide text holds only
// characters or the escapes reserved for stray bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "command_line.h"
#include "lossless_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  const std::wstring Text = launch::DecodeLossless(Bytes);
  if (launch::EncodeLossless(Text) != Bytes) {
    std::abort();
  }
  for (const wchar_t C : Text) {
    const auto Code = static_cast<std::uint32_t>(C);
    const bool Escape = Code >= 0xDC80 && Code <= 0xDCFF;
    if (Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF && !Escape)) {
      std::abort();
    }
  }
  // Each unit of UTF-16 stands for at least one byte.
  if (launch::Utf16Length(Text) > Size) {
    std::abort();
  }
  return 0;
}
