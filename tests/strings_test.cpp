// The temporary text area, string arguments, the result ring, persistent
// copies, deferred records and the string functions.
#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "support/heap.h"
#include "support/search.h"
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

// 159,999 matches with an empty replacement: a short result, but a record
// far past the area's limit for records.
void SubstituteRecordTooLong() {
  static char text[159999 + 1];
  std::memset(text, 'a', sizeof text - 1);
  tw::TextSubstitute(tw::Arg(text), tw::Arg("a"), tw::Arg(""), 0);
}

// The produced length is 65,536 + 65,536 x 65,536 bytes: 65,536 in 32 bits.
void SubstituteLengthPastThirtyTwoBits() {
  static char text[65536 + 1];
  static char replacement[65537 + 1];
  std::memset(text, 'a', sizeof text - 1);
  std::memset(replacement, 'r', sizeof replacement - 1);
  tw::TextSubstitute(tw::Arg(text), tw::Arg("a"), tw::Arg(replacement), 0);
  tw::ResultPersist();
}

// One byte more than a temporary text may hold.
void SubstituteResultTooLong() {
  static char replacement[160000 + 1];
  std::memset(replacement, 'r', sizeof replacement - 1);
  tw::TextSubstitute(tw::Arg("a"), tw::Arg("a"), tw::Arg(replacement), 0);
}

void TrimOfHugeZeroText() {
  tw::NewZeroText(200000000);
  tw::TextTrim(tw::kNewestResult, tw::kTrimRight);
}

void TrimOfZeroTextPastTheArea() {
  tw::NewZeroText(1000000);
  tw::TextTrim(tw::kNewestResult, tw::kTrimRight);
}

void CaseOfZeroTextPastTheArea() {
  tw::NewZeroText(1212416);
  tw::TextCase(tw::kNewestResult, 0);
  tw::ResultPersist();
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
    {"substitute-record-too-long", SubstituteRecordTooLong},
    {"substitute-past-32-bits", SubstituteLengthPastThirtyTwoBits},
    {"substitute-result-too-long", SubstituteResultTooLong},
    {"trim-huge-zero-text", TrimOfHugeZeroText},
    {"trim-zero-text-past-area", TrimOfZeroTextPastTheArea},
    {"case-zero-text-past-area", CaseOfZeroTextPastTheArea},
};
const int g_child = tw_test::RunScenarioIfChild(
    kScenarios, static_cast<int>(sizeof kScenarios / sizeof *kScenarios));

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
  const void* record = tw::ResultDeferredRecord(slot);
  EXPECT_NE(record, nullptr) << "the library committed a deferred record";
  if (record == nullptr) return "(plain text)";
  EXPECT_EQ(record, reinterpret_cast<const void*>(slot->address));
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

// Whole words: a resumed search must still see the byte before it, and a
// long source with many matches is searched in one pass (the fuzz corpus
// keeps the input that once took minutes).
TEST(TextSubstitute, WholeWordsSeeTheByteBeforeEachResumedSearch) {
  static const struct {
    const char* source;
    const char* expected;
  } kCases[] = {
      {"ab ab abab ab", "X X abab X"},
      {"ab.ab", "X.X"},
      {"abab", "abab"},
      {"ab", "X"},
      {"xab ab", "xab X"},
      {"ab abx ab", "X abx X"},
  };
  for (const auto& c : kCases) {
    tw::ResultSlotRecord* slot =
        tw::TextSubstitute(tw::Arg(c.source), tw::Arg("ab"), tw::Arg("X"), tw::kFindWholeWord);
    EXPECT_EQ(Materialised(slot), c.expected) << c.source;
  }
  // A one-byte pattern has no word test but takes the same resumed path.
  std::string words;
  for (int i = 0; i < 30000; ++i) words += "w ";
  tw::ResultSlotRecord* slot =
      tw::TextSubstitute(tw::Arg(words.c_str()), tw::Arg("w"), tw::Arg("vv"), tw::kFindWholeWord);
  EXPECT_EQ(slot->length, 90000);
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

TEST(TextSubstitute, RecordOrResultPastTheLimitsIsFatalErrorNine) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const char* scenario : {"substitute-too-many", "substitute-record-too-long",
                               "substitute-past-32-bits", "substitute-result-too-long"}) {
    const tw_test::ChildResult child = tw_test::RunChild(scenario);
    EXPECT_EQ(child.exitCode, -9) << scenario;
    EXPECT_EQ(child.error, kBufferError) << scenario;
  }
}

TEST(TextSubstitute, TheLongestResultATemporaryTextHolds) {
  static std::string replacement(159999, 'r');
  tw::ResultSlotRecord* slot =
      tw::TextSubstitute(tw::Arg("a"), tw::Arg("a"), tw::Arg(replacement.c_str()), 0);
  EXPECT_EQ(slot->length, 159999);
  EXPECT_EQ(Newest(), replacement) << "read as text, it still fits the area";
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
  EXPECT_EQ(tw::ResultDeferredRecord(MakeTemp("plain text")), nullptr);
  EXPECT_EQ(tw::ResultDeferredRecord(MakeTemp("")), nullptr);
}

// ---- Deferred results are known by their slot; readers get the produced text ----

// The bytes of a deferred zero-buffer record (marker, code -122) followed by
// bytes that read as a huge size: an ordinary text all the same.
std::string MarkerBytesText() {
  std::string bytes(2 * sizeof(tw::DeferredWord), '\0');
  const tw::DeferredWord words[] = {tw::kDeferredMarker, tw::kDeferredZeroBuffer};
  std::memcpy(&bytes[0], words, sizeof words);
  return bytes + "AAAAAAAAAAAAAAAA";
}

TEST(DeferredResult, ATextThatBeginsWithTheMarkerIsAText) {
  const std::string bytes = MarkerBytesText();
  tw::ResultSlotRecord* slot = MakeTemp(bytes);
  EXPECT_EQ(tw::ResultDeferredRecord(slot), nullptr);
  EXPECT_EQ(std::string(tw::ResultPersist()), bytes);
  EXPECT_EQ(Newest(), bytes);
  tw::TextTrim(tw::Arg(bytes.c_str()), tw::kTrimBoth);
  EXPECT_EQ(std::string(tw::ResultPersist()), bytes) << "a trimmed text is a text";
  tw::TextMid(tw::Arg(bytes.c_str()), -1, 1);
  EXPECT_EQ(std::string(tw::ResultPersist()), bytes) << "so is a view";
}

TEST(DeferredResult, OnlyTheSlotTheLibraryCommittedIsDeferred) {
  tw::ResultSlotRecord* slot = tw::NewZeroText(3);
  const void* record = tw::ResultDeferredRecord(slot);
  ASSERT_EQ(record, reinterpret_cast<const void*>(slot->address));
  tw::DeferredWord words[3];
  std::memcpy(words, record, sizeof words);
  EXPECT_EQ(words[0], tw::kDeferredMarker) << "the record format stays";
  EXPECT_EQ(words[1], tw::kDeferredZeroBuffer);
  EXPECT_EQ(words[2], 4);
  tw::ResultSlotRecord copy = *slot;
  EXPECT_EQ(tw::ResultDeferredRecord(&copy), nullptr) << "not a slot of the ring";
  tw::FillResultSlot(slot, "refilled", 8);
  EXPECT_EQ(tw::ResultDeferredRecord(slot), nullptr) << "refilling forgets the record";
  EXPECT_EQ(Newest(), "refilled");
}

// Each case makes a deferred newest result, reads it with another routine and
// gives what that routine saw; the expectation is what the produced text gives.
struct ReaderCase {
  const char* what;
  void (*make)();
  std::string (*read)();
  std::string expected;
};

void MakeSubstitution() {
  tw::TextSubstitute(tw::Arg(" x-y-z  "), tw::Arg("-"), tw::Arg("+"), 0);
}
void MakeLowerCase() {
  tw::TextCase(tw::Arg("MiXeD bB"), 0);
}
std::string Persisted() {
  return tw::ResultPersist();
}

const ReaderCase kReaderCases[] = {
    {"ResolveString", MakeSubstitution, Newest, " x+y+z  "},
    {"ResultPersist", MakeLowerCase, Persisted, "mixed bb"},
    {"TextTrim", MakeSubstitution,
     [] { return SlotText(tw::TextTrim(tw::kNewestResult, tw::kTrimBoth)); }, "x+y+z"},
    {"TextMid", MakeSubstitution, [] { return SlotText(tw::TextMid(tw::kNewestResult, 3, 2)); },
     "x+y"},
    {"TextCase", MakeSubstitution,
     [] {
       tw::TextCase(tw::kNewestResult, tw::kCaseUpper);
       return Persisted();
     },
     " X+Y+Z  "},
    {"TextSubstitute", MakeLowerCase,
     [] {
       tw::TextSubstitute(tw::kNewestResult, tw::Arg("b"), tw::Arg("[B]"), 0);
       return Persisted();
     },
     "mixed [B][B]"},
    {"TextSubstitute pattern", MakeLowerCase,
     [] {
       tw::TextSubstitute(tw::Arg("a mixed bb b"), tw::kNewestResult, tw::Arg("="), 0);
       return Persisted();
     },
     "a = b"},
    {"TextFind haystack", MakeLowerCase,
     [] { return std::to_string(tw::TextFind(1, tw::kNewestResult, tw::Arg("bb"), 0).position); },
     "7"},
    {"TextFind needle", MakeSubstitution,
     [] {
       return std::to_string(
           tw::TextFind(1, tw::Arg("--- x+y+z  "), tw::kNewestResult, 0).position);
     },
     "4"},
    {"slot code", MakeLowerCase,
     [] {
       const int n = tw::CurrentResultSlot();
       MakeTemp("later");
       const tw::TextView view =
           tw::ResolveString(tw::kFirstResultCode + static_cast<tw::StringArg>(n) - 1);
       return std::string(view.text, static_cast<std::size_t>(view.length));
     },
     "mixed bb"},
};

TEST(DeferredResult, EveryReaderGetsTheProducedText) {
  for (const ReaderCase& c : kReaderCases) {
    c.make();
    EXPECT_EQ(c.read(), c.expected) << c.what;
  }
}

TEST(DeferredResult, ReadAsTextItsSlotHoldsThePlainText) {
  tw::ResultSlotRecord* slot = tw::TextCase(tw::Arg("Text"), tw::kCaseUpper);
  const tw::TextView view = tw::ResolveString(tw::kNewestResult);
  EXPECT_EQ(std::string(view.text, 4), "TEXT");
  EXPECT_EQ(tw::ResultDeferredRecord(slot), nullptr);
  EXPECT_EQ(reinterpret_cast<const char*>(slot->address), view.text);
  EXPECT_EQ(slot->length, 4);
  EXPECT_EQ(view.text[4], '\0') << "the produced text is NUL-terminated in the area";
}

TEST(DeferredResult, ZeroBuffersReadAsText) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw::NewZeroText(100);
  EXPECT_EQ(Newest(), std::string(100, '\0')) << "New$ produces its size, not one more";
  tw::NewZeroText(100);
  EXPECT_EQ(SlotText(tw::TextTrim(tw::kNewestResult, tw::kTrimRight)), "");
  tw::NewZeroText(66);
  EXPECT_EQ(SlotText(tw::TextMid(tw::kNewestResult, 8, 0)), "");
  EXPECT_STREQ(tw::ResultPersist(), "") << "an empty part copies nothing";
  // Part of a zero buffer is a zero buffer, even one too long for the area.
  tw::NewZeroText(1000000);
  tw::ResultSlotRecord* part = tw::TextMid(tw::kNewestResult, 8, 3);
  EXPECT_EQ(part->length, 9);
  EXPECT_EQ(Materialised(part), std::string(8, '\0'));
  tw::NewZeroText(1000000);
  part = tw::TextMid(tw::kNewestResult, -1, 999991);
  EXPECT_EQ(Materialised(part), std::string(10, '\0'));
  const char* copy = tw::ResultPersist();
  EXPECT_EQ(std::string(copy, 11), std::string(11, '\0'));
  for (const char* scenario :
       {"trim-huge-zero-text", "trim-zero-text-past-area", "case-zero-text-past-area"}) {
    const tw_test::ChildResult child = tw_test::RunChild(scenario);
    EXPECT_EQ(child.exitCode, -9) << scenario;
    EXPECT_EQ(child.error, kBufferError) << scenario;
  }
}

// The record keeps the replacement's address; a replacement that has grown
// since cannot make a copy of the result's length overflow.
TEST(DeferredResult, ATextThatChangedSinceCannotOverrunTheCopy) {
  static char replacement[8] = "ab";
  tw::ResultSlotRecord* slot =
      tw::TextSubstitute(tw::Arg("x-x"), tw::Arg("-"), tw::Arg(replacement), 0);
  EXPECT_EQ(slot->length, 4);
  std::strcpy(replacement, "abcdefg");
  EXPECT_STREQ(tw::ResultPersist(), "xabc");
  char out[6] = "-----";
  tw::TextSubstitute(tw::Arg("x-x"), tw::Arg("-"), tw::Arg("ab"), 0);
  const void* record = tw::ResultDeferredRecord(tw::ResultSlot(tw::kSlotCurrent));
  EXPECT_EQ(tw::DeferredMaterialiseWithin(record, out, 3), out + 3);
  EXPECT_STREQ(out, "xab--");
}

TEST(DeferredResult, AnOverwrittenRecordLeavesAnEmptyText) {
  tw::TempTextReset();
  tw::ResultSlotRecord* zero = tw::NewZeroText(10);  // at the area's start
  const int n = tw::CurrentResultSlot();
  tw::TempTextEnd(tw::TempTextArea() + tw::kTempTextWrapPoint - 4, tw::kSlotNext);
  ASSERT_EQ(tw::TempTextBegin(), tw::TempTextArea()) << "the position has wrapped";
  MakeTemp("over the record");
  EXPECT_EQ(tw::ResultDeferredRecord(zero), nullptr);
  const tw::TextView view =
      tw::ResolveString(tw::kFirstResultCode + static_cast<tw::StringArg>(n) - 1);
  EXPECT_EQ(view.length, 0);
}

// Places a text at the free position given by offset (a multiple of 4 below
// the wrap point) and makes it the newest result.
void NewestAt(std::uint32_t offset, const std::string& text) {
  tw::TempTextReset();
  if (offset > 0) tw::TempTextEnd(tw::TempTextArea() + offset - 4, tw::kSlotNext);
  ASSERT_EQ(tw::TempTextBegin(), tw::TempTextArea() + offset);
  MakeTemp(text);
}

std::string Reference(const std::string& text, const std::string& pattern,
                      const std::string& replacement, unsigned limit) {
  if (pattern.empty()) return text;
  std::string out;
  std::size_t at = 0;
  for (unsigned made = 0; limit == 0 || made < limit; ++made) {
    const std::size_t found = text.find(pattern, at);
    if (found == std::string::npos) break;
    out += text.substr(at, found - at) + replacement;
    at = found + pattern.size();
  }
  return out + text.substr(at);
}

TEST(TextSubstitute, NeverOverwritesItsSourceLyingAheadInTheArea) {
  // The newest result at offsets 320,004 to 479,999: the record, written from
  // the area's start after the wrap, would reach it.
  std::string source;
  while (source.size() < 159995) source += "abcd";
  source.resize(159995);
  NewestAt(320004, source);
  ASSERT_EQ(tw::TempTextBegin(), tw::TempTextArea()) << "the position has wrapped";
  tw::TextSubstitute(tw::kNewestResult, tw::Arg("a"), tw::Arg("b"), 0);
  const std::string expected = Reference(source, "a", "b", 0);
  EXPECT_TRUE(Newest() == expected) << "the result differs from the reference";
}

// Sources of random texts at random places near the area's start and its
// wrap point, compared with a reference substitution.
TEST(TextSubstitute, RandomSourcesAnywhereInTheAreaMatchTheReference) {
  std::mt19937 random(20261208);
  auto text = [&](std::size_t length) {
    std::string t(length, 'a');
    for (char& c : t) c = "aab"[random() % 3];
    return t;
  };
  for (int i = 0; i < 120; ++i) {
    const std::uint32_t length = random() % 3 == 0 ? random() % 159999 : random() % 4000;
    std::uint32_t offset = random() % 2 == 0 ? (random() % 4000) * 4
                                             : tw::kTempTextWrapPoint - 4 - (random() % 40000) * 4;
    const std::string source = text(length);
    const std::string pattern = text(1 + random() % 3);
    const std::string replacement = text(random() % 5);
    const unsigned limit = random() % 4 == 0 ? random() % 4 : 0;
    const std::string expected = Reference(source, pattern, replacement, limit);
    const std::size_t matches =
        replacement.size() == pattern.size()
            ? 0
            : (expected.size() > source.size() ? expected.size() - source.size()
                                               : source.size() - expected.size()) /
                  (replacement.size() > pattern.size() ? replacement.size() - pattern.size()
                                                       : pattern.size() - replacement.size());
    NewestAt(offset, source);
    const std::size_t recordEnd =
        static_cast<std::size_t>(tw::TempTextBegin() - tw::TempTextArea()) + 8 * (7 + matches);
    if (expected.size() > 159999 || recordEnd > 600000) continue;  // fatal error 9
    tw::TextSubstitute(tw::kNewestResult, tw::Arg(pattern.c_str()), tw::Arg(replacement.c_str()),
                       limit << 8);
    const std::string persisted = tw::ResultPersist();
    const std::string read = Newest();
    EXPECT_TRUE(persisted == expected && read == expected)
        << "case " << i << ": length " << length << " at " << offset << ", \"" << pattern
        << "\" by \"" << replacement << "\"";
  }
}

TEST(TextCase, NeverOverwritesASourceAtTheFreePosition) {
  tw::TempTextReset();
  MakeTemp("lower case source");  // at the area's start
  const int n = tw::CurrentResultSlot();
  tw::TempTextEnd(tw::TempTextArea() + tw::kTempTextWrapPoint - 4, tw::kSlotNext);
  ASSERT_EQ(tw::TempTextBegin(), tw::TempTextArea()) << "the record goes where the source is";
  tw::TextCase(tw::kFirstResultCode + static_cast<tw::StringArg>(n) - 1, tw::kCaseUpper);
  EXPECT_STREQ(tw::ResultPersist(), "LOWER CASE SOURCE");
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
