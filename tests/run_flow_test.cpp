#include <gtest/gtest.h>

#include "console.h"
#include "report.h"
#include "run_flow.h"

namespace launch {
namespace {

TEST(WaitFlag, OnlyTheExactWordTrueWaitsAndNearMissesAreFlagged) {
  const WideConverter Converter;
  const struct {
    const wchar_t* Text;
    bool Waits;
    bool NearMiss;
  } Cases[] = {
      {L"TRUE", true, false},       {L"true", false, true},   {L"True", false, true},
      {L"TRUE ", false, true},      {L" TRUE", false, true},  {L"TRUE\r", false, true},
      {L"\ttrue\r\n", false, true}, {L"1", false, false},     {L"", false, false},
      {L"   ", false, false},       {L"TRUEX", false, false}, {L"FALSE", false, false},
      {L"TRU", false, false},       {L"T RUE", false, false}, {L"TRUE\x1E", false, false},
      {L"TRUX", false, false},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(IsWaitRequested(Case.Text, Converter), Case.Waits) << Case.Text;
    EXPECT_EQ(IsNearMissWait(Case.Text), Case.NearMiss) << Case.Text;
  }
}

TEST(FailureReason, SpellsOutControlCharacters) {
  const struct {
    const wchar_t* Text;
    const wchar_t* Shown;
  } Cases[] = {
      {L"/bin/sh\r", L"/bin/sh\\r"},
      {L"a\nb\tc", L"a\\nb\\tc"},
      {L"\x1b[2J\x7f\x9b\x01", L"\\x1b[2J\\x7f\\x9b\\x01"},
      {L"caf\xe9 \x20ac", L"caf\xe9 \x20ac"},
      {L"\xdc9b[\xdc80\xdc9f\xdca0", L"\\x9b[\\x80\\x9f\xdca0"},  // raw bytes of a POSIX name
      {L"\x1f \x7e\x9f\xa0\xdc7f", L"\\x1f \x7e\\x9f\xa0\xdc7f"}, // each range's edges
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(Visible(Case.Text), Case.Shown) << Case.Text;
  }
}

TEST(ConsolePiece, EndsWithinTheLimitAndKeepsSurrogatePairsWhole) {
  const std::wstring Pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
  const struct {
    std::wstring Text;
    std::size_t From, Most, End;
  } Cases[] = {
      {L"abcd", 0, 3, 3},
      {L"ab", 0, 3, 2},
      {L"a" + Pair + L"b", 0, 2, 1},
      {L"a" + Pair + L"b", 1, 2, 3},
      {L"a\xD800x", 0, 2, 2},
      {Pair, 0, 1, 1},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(ConsolePieceEnd(Case.Text, Case.From, Case.Most), Case.End)
        << Case.Text.size() << " units from " << Case.From << ", at most " << Case.Most;
  }
}

} // namespace
} // namespace launch
