// The temporary text area, string arguments, the result ring, persistent
// copies, deferred records and the string functions.
#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/heap.h"
#include "support/startup.h"
#include "tools/child.h"

namespace {

// ---- Child scenarios: routines that end in fatal error 9 ----

void NewZeroTextOfZero() {
  tw::NewZeroText(0);
}

void TrimTooLong() {
  static char text[200001];
  std::memset(text, 'a', sizeof text - 1);
  tw::TextTrim(tw::Arg(text), tw::kTrimBoth);
}

void SubstituteTooManyMatches() {
  static char text[200001];
  std::memset(text, 'a', sizeof text - 1);
  tw::TextSubstitute(tw::Arg(text), tw::Arg("a"), tw::Arg("b"), 0);
}

void EndPastTheArea() {
  tw::TempTextBegin();
  tw::TempTextEnd(tw::TempTextArea() + tw::kTempTextAreaSize, tw::kSlotNext);
}

const tw_test::Scenario kScenarios[] = {
    {"end-past-area", EndPastTheArea},
    {"new-zero", NewZeroTextOfZero},
    {"trim-too-long", TrimTooLong},
    {"substitute-too-many", SubstituteTooManyMatches},
};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 4);

const char kBufferError[] =
    "[message box] Fatal error:\nInsufficient buffer or New$(<=0)\n[answer] ok\n";

std::string SlotText(const tw::ResultSlotRecord* slot) {
  const std::int32_t length = slot->length < 0 ? -slot->length : slot->length;
  return std::string(reinterpret_cast<const char*>(slot->address),
                     static_cast<std::size_t>(length));
}

std::string Newest() {
  const tw::TextView view = tw::ResolveString(tw::kNewestResult);
  return std::string(view.text, static_cast<std::size_t>(view.length));
}

// A new temporary text holding text.
tw::ResultSlotRecord* MakeTemp(const std::string& text) {
  char* at = tw::TempTextBegin();
  std::memcpy(at, text.c_str(), text.size() + 1);
  return tw::TempTextEnd(at + text.size(), tw::kSlotNext).slot;
}

// What a deferred result produces, carried out into a buffer.
std::string Materialised(const tw::ResultSlotRecord* slot) {
  static char destination[4096];
  const char* record = reinterpret_cast<const char*>(slot->address);
  EXPECT_TRUE(tw::IsDeferredRecord(record));
  char* end = tw::DeferredMaterialise(record, destination);
  return std::string(destination, static_cast<std::size_t>(end - destination));
}

// ---- Temporary text area ----

TEST(TempText, TextsFollowEachOtherOnFourByteSteps) {
  tw::TempTextReset();
  char* first = tw::TempTextBegin();
  EXPECT_EQ(first, tw::TempTextArea()) << "the first text begins at the area's start";
  // Empty text: slot of length 0, the next text 4 bytes on.
  tw::TempTextResult empty = tw::TempTextEnd(first, tw::kSlotNext);
  EXPECT_EQ(empty.text, first);
  EXPECT_EQ(empty.slot->length, 0);
  EXPECT_EQ(tw::TempTextBegin(), first + 4);
  // NUL at a multiple of 4: 4 bytes past it.
  char* second = tw::TempTextBegin();
  tw::TempTextEnd(second + 4, tw::kSlotNext);
  EXPECT_EQ(tw::TempTextBegin(), second + 8);
  // NUL at the last byte of a group: the next group.
  char* third = tw::TempTextBegin();
  tw::TempTextResult r = tw::TempTextEnd(third + 3, tw::kSlotNext);
  EXPECT_EQ(r.slot->length, 3);
  EXPECT_EQ(tw::TempTextBegin(), third + 4);
}

TEST(TempText, WrapsAtTheWrapPointKeepingTheLastTextWhole) {
  tw::TempTextReset();
  char* start = tw::TempTextBegin();
  // Fill up to just before the wrap point with one long text.
  tw::TempTextEnd(start + tw::kTempTextWrapPoint - 8, tw::kSlotNext);
  char* last = tw::TempTextBegin();
  EXPECT_EQ(last, start + tw::kTempTextWrapPoint - 4);
  std::memset(last, 'z', 100);
  last[100] = '\0';
  const tw::TempTextResult r = tw::TempTextEnd(last + 100, tw::kSlotNext);
  EXPECT_EQ(SlotText(r.slot), std::string(100, 'z')) << "ends past the wrap point, stays whole";
  EXPECT_EQ(tw::TempTextBegin(), start) << "the next text begins at the area's start";
}

TEST(TempText, ReserveLetsTheLargestTextThrough) {
  tw::TempTextReset();
  EXPECT_EQ(tw::TempTextReserve(tw::kTempTextMaxBytes), tw::TempTextArea());
}

TEST(TempText, EndPastTheAreaIsFatalErrorNine) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("end-past-area");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_EQ(child.error, kBufferError);
}

TEST(WideTextLength, CountsUnitsWhateverTheAlignment) {
  alignas(4) std::uint16_t units[8] = {0};
  EXPECT_EQ(tw::WideTextLength(units), 0u);
  const std::uint16_t three[] = {'a', 'b', 'c', 0};
  std::memcpy(units, three, sizeof three);
  EXPECT_EQ(tw::WideTextLength(units), 3u);
  std::memcpy(units + 1, three, sizeof three);  // the third unit in the other half
  EXPECT_EQ(tw::WideTextLength(units + 1), 3u);
  const std::uint16_t high[] = {0x0100, 0xFF00, 0};
  EXPECT_EQ(tw::WideTextLength(high), 2u) << "zero bytes inside units do not end the text";
}

// ---- String arguments and the ring ----

TEST(StringArgument, ResolvesAddressesCodesAndResults) {
  const char text[] = "hello";
  tw::TextView view = tw::ResolveString(tw::Arg(text));
  EXPECT_EQ(view.text, text);
  EXPECT_EQ(view.length, 5);
  view = tw::ResolveString(tw::kTextCrLf);
  EXPECT_EQ(std::string(view.text, 2), "\r\n");
  view = tw::ResolveString(tw::kTextNone);
  EXPECT_EQ(view.length, 0);
  EXPECT_STREQ(view.text, "") << "code 0 reads as the empty text, never as a null address";
  for (tw::StringArg unused :
       {tw::StringArg{8}, tw::StringArg{10}, tw::StringArg{26}, tw::StringArg{126}}) {
    EXPECT_EQ(tw::ResolveString(unused).length, 0) << unused;
    EXPECT_EQ(tw::ResolveString(unused).text, tw::g_emptyText) << unused;
  }
  MakeTemp("newest");
  EXPECT_EQ(Newest(), "newest");
  const int slot = tw::CurrentResultSlot();
  view = tw::ResolveString(tw::kFirstResultCode + static_cast<tw::StringArg>(slot) - 1);
  EXPECT_EQ(std::string(view.text, static_cast<std::size_t>(view.length)), "newest");
}

TEST(StringArgument, BorrowedResultsReadWithTheirAbsoluteLength) {
  tw::ResultSlotRecord* slot = MakeTemp("borrowed");
  slot->length = -8;
  EXPECT_EQ(Newest(), "borrowed");
}

TEST(ResultRing, TheSixteenthResultReusesTheFirstSlot) {
  tw::ResultSlotRecord* first = MakeTemp("r1");
  const int firstNumber = tw::CurrentResultSlot();
  for (int i = 2; i <= 15; ++i) MakeTemp("r" + std::to_string(i));
  EXPECT_EQ(
      tw::ResolveString(tw::kFirstResultCode + static_cast<tw::StringArg>(firstNumber) - 1).length,
      2);
  tw::ResultOrigin(first) = 0x1234;  // as if read from an array element
  tw::ResultSlotRecord* sixteenth = MakeTemp("r16");
  EXPECT_EQ(sixteenth, first);
  EXPECT_EQ(tw::CurrentResultSlot(), firstNumber);
  EXPECT_EQ(tw::ResultOrigin(sixteenth), 0u) << "a new result has no origin";
  EXPECT_EQ(SlotText(sixteenth), "r16");
}

TEST(ResultRing, SelectorsStepForwardBackOrStay) {
  MakeTemp("x");
  const int here = tw::CurrentResultSlot();
  tw::ResultSlotRecord* current = tw::ResultSlot(tw::kSlotCurrent);
  EXPECT_EQ(tw::CurrentResultSlot(), here);
  EXPECT_EQ(tw::ResultSlot(current->address), current) << "the current slot's own address stays";
  tw::ResultSlot(tw::kSlotBack);
  EXPECT_EQ(tw::CurrentResultSlot(), here == 1 ? 15 : here - 1);
  tw::ResultSlot(tw::kSlotNext);
  EXPECT_EQ(tw::CurrentResultSlot(), here);
  while (tw::CurrentResultSlot() != 1) tw::ResultSlot(tw::kSlotNext);
  tw::ResultSlot(tw::kSlotBack);
  EXPECT_EQ(tw::CurrentResultSlot(), 15);
  tw::ResultSlot(tw::kSlotNext);
  EXPECT_EQ(tw::CurrentResultSlot(), 1);
}

TEST(ResultPersist, CopiesLiveForSevenMoreCopies) {
  const std::uint32_t releasesBefore = tw::HeapReleaseCount();
  const std::uint32_t allocationsBefore = tw::HeapAllocationCount();
  MakeTemp("keep me");
  char* copy = tw::ResultPersist();
  EXPECT_STREQ(copy, "keep me");
  for (int i = 0; i < 6; ++i) {
    MakeTemp("other");
    tw::ResultPersist();
  }
  EXPECT_STREQ(copy, "keep me") << "still valid after six more copies";
  EXPECT_EQ(tw::HeapAllocationCount() - allocationsBefore, 7u);
  // The rotation releases one block per copy once all seven places are full.
  MakeTemp("eighth");
  tw::ResultPersist();
  EXPECT_GE(tw::HeapReleaseCount() - releasesBefore, 1u);
}

TEST(ResultPersist, CarriesOutADeferredNewestResult) {
  tw::TextSubstitute(tw::Arg("a-b-c"), tw::Arg("-"), tw::Arg("+"), 0);
  EXPECT_STREQ(tw::ResultPersist(), "a+b+c");
}

// ---- Deferred records ----

TEST(TextSubstitute, ReplacesWithoutOverlapAndHonoursTheLimit) {
  tw::ResultSlotRecord* slot = tw::TextSubstitute(tw::Arg("aaaa"), tw::Arg("aa"), tw::Arg("b"), 0);
  EXPECT_EQ(slot->length, 2);
  EXPECT_EQ(Materialised(slot), "bb");
  slot = tw::TextSubstitute(tw::Arg("aaaa"), tw::Arg("aa"), tw::Arg("b"), 1 << 8);
  EXPECT_EQ(slot->length, 3);
  EXPECT_EQ(Materialised(slot), "baa");
  slot = tw::TextSubstitute(tw::Arg("one two one"), tw::Arg("one"), tw::Arg("three"), 0);
  EXPECT_EQ(slot->length, 15);
  EXPECT_EQ(Materialised(slot), "three two three");
}

TEST(TextSubstitute, AbsentOrEmptyPatternLeavesTheSource) {
  tw::ResultSlotRecord* slot =
      tw::TextSubstitute(tw::Arg("source"), tw::Arg("xyz"), tw::Arg("q"), 0);
  EXPECT_EQ(slot->length, 6);
  EXPECT_EQ(Materialised(slot), "source");
  slot = tw::TextSubstitute(tw::Arg("source"), tw::Arg(""), tw::Arg("q"), 0);
  EXPECT_EQ(Materialised(slot), "source");
  slot = tw::TextSubstitute(tw::Arg(""), tw::Arg("a"), tw::Arg("q"), 0);
  EXPECT_EQ(slot->length, 0);
  EXPECT_EQ(Materialised(slot), "");
}

TEST(TextSubstitute, CaseFoldingModeAndTableCodes) {
  tw::ResultSlotRecord* slot =
      tw::TextSubstitute(tw::Arg("Ab-ab-AB"), tw::Arg("ab"), tw::kTextTab, 1);
  EXPECT_EQ(Materialised(slot), "\t-\t-\t");
  // The search is TextFind's: a one-byte pattern is matched exactly in any mode.
  slot = tw::TextSubstitute(tw::Arg("A-a-A"), tw::Arg("a"), tw::kTextTab, 1);
  EXPECT_EQ(Materialised(slot), "A-\t-A");
  // Whole words only (mode 4).
  slot = tw::TextSubstitute(tw::Arg("cat concat cat."), tw::Arg("cat"), tw::Arg("dog"), 4);
  EXPECT_EQ(Materialised(slot), "dog concat dog.");
  slot = tw::TextSubstitute(tw::Arg("A-a-A"), tw::Arg("a"), tw::kTextCrLf, 0);
  EXPECT_EQ(slot->length, 6);
  EXPECT_EQ(Materialised(slot), "A-\r\n-A");
}

TEST(TextSubstitute, RecordPastTheAreaLimitIsFatalErrorNine) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("substitute-too-many");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_EQ(child.error, kBufferError);
}

TEST(NewZeroText, ProducesZeroBytesAndRefusesSizesBelowOne) {
  tw::ResultSlotRecord* slot = tw::NewZeroText(5);
  EXPECT_EQ(slot->length, 6);
  EXPECT_EQ(Materialised(slot), std::string(5, '\0'));
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("new-zero");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_EQ(child.error, kBufferError);
}

TEST(TextCase, ConvertsAnsiAndWideTexts) {
  tw::ResultSlotRecord* slot = tw::TextCase(tw::Arg("Mixed Case 42"), tw::kCaseUpper);
  EXPECT_EQ(slot->length, 13);
  EXPECT_EQ(Materialised(slot), "MIXED CASE 42");
  slot = tw::TextCase(tw::Arg("Mixed Case 42"), 0);
  EXPECT_EQ(Materialised(slot), "mixed case 42");
  // U+0141 (L with stroke) lowers to U+0142; treating its bytes as ANSI text
  // would give U+0161 instead.
  const std::uint16_t wide[] = {'A', 0x141, 0xC4, 0};
  slot = tw::TextCase(tw::Arg(wide), tw::kCaseWide);
  EXPECT_EQ(slot->length, 6);
  const std::string lower = Materialised(slot);
  std::uint16_t units[3];
  std::memcpy(units, lower.data(), 6);
  EXPECT_EQ(units[0], 'a');
  EXPECT_EQ(units[1], 0x142);
  EXPECT_EQ(units[2], 0xE4);
}

TEST(TextCase, NewestResultIsReplacedInItsSlot) {
  MakeTemp("abc");
  const int slot = tw::CurrentResultSlot();
  tw::ResultSlotRecord* record = tw::TextCase(tw::kNewestResult, tw::kCaseUpper);
  EXPECT_EQ(tw::CurrentResultSlot(), slot);
  EXPECT_EQ(Materialised(record), "ABC");
}

TEST(DeferredMaterialise, FileReadGoesToItsRegisteredHandler) {
  static std::string seen;
  tw::SetDeferredHandler(tw::kDeferredFileRead, [](const tw::DeferredWord* fields, char* out) {
    seen = reinterpret_cast<const char*>(fields[0]);
    std::memset(out, 'F', static_cast<std::size_t>(fields[1]));
    return out + fields[1];
  });
  const tw::DeferredWord words[] = {tw::kDeferredMarker, tw::kDeferredFileRead,
                                    reinterpret_cast<tw::DeferredWord>("in.txt"), 3};
  tw::ResultSlotRecord* slot = tw::DeferredCommit(words, 4, 3);
  EXPECT_EQ(Materialised(slot), "FFF");
  EXPECT_EQ(seen, "in.txt");
  tw::SetDeferredHandler(tw::kDeferredFileRead, nullptr);
  EXPECT_EQ(Materialised(slot), "") << "no handler: nothing produced";
  EXPECT_FALSE(tw::IsDeferredRecord("plain text"));
  EXPECT_FALSE(tw::IsDeferredRecord(""));
}

// ---- Substrings, trimming, hexadecimal and binary ----

std::string Mid(const char* source, std::int32_t count, std::int32_t position) {
  return SlotText(tw::TextMid(tw::Arg(source), count, position));
}

TEST(TextMid, TakesPartsOfTheSource) {
  EXPECT_EQ(Mid("abcdef", 3, 2), "bcd");
  EXPECT_EQ(Mid("abcdef", 2, -1), "ef");
  EXPECT_EQ(Mid("abcdef", 3, 7), "");
  EXPECT_EQ(Mid("abcdef", -1, 3), "cdef");
  EXPECT_EQ(Mid("abcdef", 10, 5), "ef");
  EXPECT_EQ(Mid("abcdef", -1, -1), "abcdef");
  EXPECT_EQ(Mid("abcdef", 9, -1), "abcdef");
  EXPECT_EQ(Mid("abcdef", 0, 2), "");
  EXPECT_EQ(Mid("abcdef", 2, 0), "");
  const char* source = "abcdef";
  EXPECT_EQ(reinterpret_cast<const char*>(tw::TextMid(tw::Arg(source), 3, 2)->address), source + 1)
      << "a view into the source, not a copy";
}

TEST(TextMid, CountsUnitsOfWideTexts) {
  const std::uint16_t wide[] = {'a', 'b', 'c', 'd', 0};
  tw::ResultSlotRecord* slot =
      tw::TextMid(tw::Arg(wide), static_cast<std::int32_t>(tw::kMidWide | 2), 3);
  EXPECT_EQ(slot->length, 4);
  EXPECT_EQ(reinterpret_cast<const std::uint16_t*>(slot->address), wide + 1);
  slot = tw::TextMid(tw::Arg(wide), static_cast<std::int32_t>(tw::kMidWide | 3), -1);
  EXPECT_EQ(reinterpret_cast<const std::uint16_t*>(slot->address), wide + 1);
  EXPECT_EQ(slot->length, 6);
}

TEST(TextMid, OfTheNewestResultTakesItsPlace) {
  MakeTemp("0123456789");
  const int slot = tw::CurrentResultSlot();
  tw::TextMid(tw::kNewestResult, 3, 4);
  EXPECT_EQ(tw::CurrentResultSlot(), slot);
  EXPECT_EQ(Newest(), "345");
}

std::string Trim(const char* source, std::uint32_t mode) {
  return SlotText(tw::TextTrim(tw::Arg(source), mode));
}

TEST(TextTrim, DropsControlAndSpaceBytes) {
  EXPECT_EQ(Trim(" \t \t ", tw::kTrimBoth), "");
  EXPECT_EQ(Trim(" a ", tw::kTrimBoth), "a");
  EXPECT_EQ(Trim(" a ", tw::kTrimLeft), "a ");
  EXPECT_EQ(Trim(" a ", tw::kTrimRight), " a");
  EXPECT_EQ(Trim("\r\n x y\t\r\n", tw::kTrimBoth), "x y");
  EXPECT_EQ(Trim("", tw::kTrimBoth), "");
  const char* trimmed = reinterpret_cast<const char*>(tw::TextTrim(tw::Arg(" z "), 3)->address);
  EXPECT_GE(trimmed, tw::TempTextArea());
  EXPECT_LT(trimmed, tw::TempTextArea() + tw::kTempTextAreaSize) << "a copy in the area";
  EXPECT_STREQ(trimmed, "z");
}

TEST(TextTrim, ZeroByteWhileTrimmingGivesEmptyAndNewestIsReplaced) {
  tw::ResultSlotRecord* slot = MakeTemp("x  ");
  slot->length = 4;  // the NUL counts as part of the result
  const int number = tw::CurrentResultSlot();
  tw::TextTrim(tw::kNewestResult, tw::kTrimRight);
  EXPECT_EQ(Newest(), "");
  EXPECT_EQ(tw::CurrentResultSlot(), number);
}

TEST(TextTrim, TooLongForTheAreaIsFatalErrorNine) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("trim-too-long");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_EQ(child.error, kBufferError);
}

TEST(HexText, WritesUpperCaseDigitsOfTheLowBytes) {
  EXPECT_STREQ(tw::HexText(255, 2), "00FF");
  EXPECT_STREQ(tw::HexText(0xC0000005u, 4), "C0000005");
  EXPECT_STREQ(tw::HexText(0x1234ABCDu, 1), "CD");
  EXPECT_STREQ(tw::HexText(0x1234ABCDu, 3), "34ABCD");
  EXPECT_STREQ(tw::HexText(0x1234ABCDu, 9), "1234ABCD");
}

TEST(BinaryText, WritesThirtyTwoBits) {
  char buffer[33];
  EXPECT_EQ(tw::BinaryText(5, buffer), buffer);
  EXPECT_STREQ(buffer, "00000000000000000000000000000101");
  EXPECT_STREQ(tw::BinaryText(0x80000001u, buffer), "10000000000000000000000000000001");
  EXPECT_STREQ(tw::BinaryText(0xFFFFFFFFu, buffer), std::string(32, '1').c_str());
}

}  // namespace
