#include "lossless_text.h"

#include <cstddef>
#include <cstdint>

namespace launch {

namespace {

constexpr char32_t kEscapeBase = 0xDC00; // + byte, for bytes 0x80..0xFF
constexpr char32_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at `Pos`, or 0 when the byte there does not
// start one. Follows the well-formed byte table of the Unicode standard.
std::size_t ValidSequenceLength(std::string_view Bytes, std::size_t Pos) {
  const auto At = [&](std::size_t I) { return static_cast<unsigned char>(Bytes[I]); };
  const unsigned char Lead = At(Pos);
  std::size_t Length = 0;
  unsigned char Low = 0x80;
  unsigned char High = 0xBF;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3;
    Low = Lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    High = Lead == 0xED ? 0x9F : 0xBF; // no surrogates
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4;
    Low = Lead == 0xF0 ? 0x90 : 0x80;  // no overlong forms
    High = Lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (Bytes.size() - Pos < Length) {
    return 0;
  }
  if (At(Pos + 1) < Low || At(Pos + 1) > High) {
    return 0;
  }
  for (std::size_t I = 2; I < Length; ++I) {
    if (At(Pos + I) < 0x80 || At(Pos + I) > 0xBF) {
      return 0;
    }
  }
  return Length;
}

void AppendUtf8(std::string& Out, char32_t C) {
  const auto Put = [&](char32_t Byte) { Out.push_back(static_cast<char>(Byte)); };
  if (C < 0x80) {
    Put(C);
  } else if (C < 0x800) {
    Put(0xC0 | (C >> 6));
    Put(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Put(0xE0 | (C >> 12));
    Put(0x80 | ((C >> 6) & 0x3F));
    Put(0x80 | (C & 0x3F));
  } else {
    Put(0xF0 | (C >> 18));
    Put(0x80 | ((C >> 12) & 0x3F));
    Put(0x80 | ((C >> 6) & 0x3F));
    Put(0x80 | (C & 0x3F));
  }
}

} // namespace

std::wstring DecodeLossless(std::string_view Bytes) {
  std::wstring Text;
  Text.reserve(Bytes.size());
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    const auto Lead = static_cast<unsigned char>(Bytes[Pos]);
    if (Lead < 0x80) {
      Text.push_back(static_cast<wchar_t>(Lead));
      ++Pos;
      continue;
    }
    const std::size_t Length = ValidSequenceLength(Bytes, Pos);
    if (Length == 0) {
      Text.push_back(static_cast<wchar_t>(kEscapeBase + Lead));
      ++Pos;
      continue;
    }
    char32_t C = Lead & (0xFF >> (Length + 1));
    for (std::size_t I = 1; I < Length; ++I) {
      C = (C << 6) | (static_cast<unsigned char>(Bytes[Pos + I]) & 0x3F);
    }
    Text.push_back(static_cast<wchar_t>(C));
    Pos += Length;
  }
  return Text;
}

std::string EncodeLossless(std::wstring_view Text) {
  std::string Bytes;
  Bytes.reserve(Text.size());
  for (const wchar_t Unit : Text) {
    const auto C = static_cast<char32_t>(Unit);
    if (C >= kEscapeBase + 0x80 && C <= kEscapeBase + 0xFF) {
      Bytes.push_back(static_cast<char>(C - kEscapeBase));
    } else if ((C >= 0xD800 && C <= 0xDFFF) || C > 0x10FFFF) {
      // Never produced by DecodeLossless: no byte sequence stands for it.
      AppendUtf8(Bytes, kReplacement);
    } else {
      AppendUtf8(Bytes, C);
    }
  }
  return Bytes;
}

} // namespace launch
