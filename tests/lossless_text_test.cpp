#include <gtest/gtest.h>

#include <random>

#include "lossless_text.h"

namespace launch {
namespace {

TEST(LosslessText, DecodesValidUtf8AndEscapesEveryOtherByte) {
  const struct {
    std::string Bytes;
    std::wstring Text;
  } Cases[] = {
      {"", L""},
      {"plain ASCII", L"plain ASCII"},
      {"caf\xC3\xA9", L"caf\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xFF", L"\xDCFF"},                               // never valid
      {"a\x80z", L"a\xDC80z"},                           // stray continuation byte
      {"\xC3", L"\xDCC3"},                               // truncated sequence
      {"\xC0\xAF", L"\xDCC0\xDCAF"},                     // overlong '/'
      {"\xE0\x80\xAF", L"\xDCE0\xDC80\xDCAF"},           // overlong, three bytes
      {"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},           // encoded surrogate
      {"\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"}, // above U+10FFFF
      {"\xE2\x82", L"\xDCE2\xDC82"},                     // cut short
      {"\xC3\xA9\xA9", L"\u00E9\xDCA9"},                 // valid, then a stray byte
      // The edges of each lead byte's range and of the code space.
      {"\xE0\xA0\x80\xEF\xBF\xBF", L"\u0800\uFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", L"\U00010000\U0010FFFF"},
      {"\xC2\x80\xDF\xBF\xED\x9F\xBF", L"\u0080\u07FF\uD7FF"},
      {"\xF0\x8F\xBF\xBF", L"\xDCF0\xDC8F\xDCBF\xDCBF"}, // overlong, four bytes
      {"\xC1\xBF\xF5\x80", L"\xDCC1\xDCBF\xDCF5\xDC80"}, // never lead bytes
      {"\xC3\x80\xE1\x80\x80\xF1\x80\x80\x80",
       L"\u00C0\u1000\U00040000"}, // the lowest continuation byte
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(DecodeLossless(Case.Bytes), Case.Text);
    EXPECT_EQ(EncodeLossless(DecodeLossless(Case.Bytes)), Case.Bytes);
  }
}

TEST(LosslessText, AnyBytesRoundTrip) {
  std::mt19937 Random(20261208);
  std::uniform_int_distribution<int> Byte(0, 255);
  std::uniform_int_distribution<int> Length(0, 64);
  for (int Round = 0; Round < 20000; ++Round) {
    std::string Bytes(static_cast<std::size_t>(Length(Random)), '\0');
    for (char& B : Bytes) {
      // Bias towards the bytes that make and break multi-byte sequences.
      B = static_cast<char>(Round % 2 == 0 ? Byte(Random) : 0x80 + Byte(Random) % 0x78);
    }
    ASSERT_EQ(EncodeLossless(DecodeLossless(Bytes)), Bytes);
  }
}

TEST(LosslessText, TextNoBytesStandForEncodesAsReplacement) {
  // Both ends of the surrogates, and those just outside the escaped bytes.
  EXPECT_EQ(EncodeLossless(L"\xD800\xDC7F\xDD00\xDFFF"),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(EncodeLossless(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

} // namespace
} // namespace launch
