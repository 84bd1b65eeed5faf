// TextAssemble, grouped by destination: console (ANSI, UTF-8, print and
// wait), caller's buffer, window text, file slot, array element and field,
// new pooled block; the items (table codes, 127 results oldest first,
// deferred results, 29 items), the temporary-block fallback, and a randomized
// comparison of element assignments with a string model that also counts the
// heap blocks (the sanitizer lane sees every release).
#include "support/assemble.h"

#include "compat/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "support/arrays.h"
#include "support/console.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/recall.h"
#include "support/strings.h"
#include "support/temptext.h"
#include "tools/capture.h"
#include "tools/child.h"

namespace {

using tw::Arg;
using tw::kNewestResult;

// ---- Child scenarios: clear errors end the process ----

void ThirtyItems() {
  const std::vector<tw::StringArg> items(30, Arg("x"));
  tw::TextAssembleList(tw::kAssembleToConsole, items.data(), 30, 0);
}
void TwentyNineItemsWithOldBlock() {
  const std::vector<tw::StringArg> items(29, Arg("x"));
  tw::TextAssembleList(tw::kAssembleToNewBlock, items.data(), 29, 0);
}
void ThirtyOneMachineItems() {
  std::uintptr_t words[40] = {tw::kAssembleToConsole | 31};
  for (int i = 1; i < 40; ++i) words[i] = Arg("x");
  tw::TextAssembleWords(words);
}
void ElementWithoutElement() {
  tw::TextAssemble(tw::kAssembleToBuffer, {Arg("make a result")});
  tw::TextAssemble(tw::kAssembleToElement, {Arg("x")});
}
void ElementOfErasedArray() {
  tw::ArrayCreate(6, 2);
  tw::ArrayElement(6, 1);
  tw::ArrayErase(6);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("x")});
}
// The erased array's header is released; a new array may get its address.
void ElementOfErasedArrayReused() {
  tw::ArrayCreate(6, 2);
  tw::ArrayElement(6, 1);
  tw::ArrayErase(6);
  tw::ArrayCreate(7, 2);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("x")});
}
void ElementMovedByInsert() {
  tw::ArrayCreate(6, 2);
  tw::ArrayElement(6, 1);
  tw::ArrayInsertDelete(1);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("x")});
}

const tw_test::Scenario kScenarios[] = {
    {"thirty-items", ThirtyItems},
    {"twenty-nine-with-old-block", TwentyNineItemsWithOldBlock},
    {"thirty-one-machine-items", ThirtyOneMachineItems},
    {"element-without-element", ElementWithoutElement},
    {"element-of-erased-array", ElementOfErasedArray},
    {"element-of-erased-array-reused", ElementOfErasedArrayReused},
    {"element-moved-by-insert", ElementMovedByInsert},
};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 7);

// ---- Helpers ----

std::string Newest() {
  const tw::TextView view = tw::ResolveString(kNewestResult);
  return std::string(view.text, static_cast<std::size_t>(view.length));
}

// A new temporary result holding text.
void MakeTemp(const std::string& text) {
  char* at = tw::TempTextBegin();
  std::memcpy(at, text.c_str(), text.size() + 1);
  tw::TempTextEnd(at + text.size(), tw::kSlotNext);
}

// What the console destination prints for control and items.
std::string Printed(std::uint32_t control, std::initializer_list<tw::StringArg> items) {
  tw_test::Capture capture(tw_test::Stream::Output);
  tw::TextAssemble(control, items);
  return capture.Finish();
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

tw::ArrayElementEntry* Entry(int number, std::int32_t index) {
  return tw::ArrayElements(tw::ArrayHeaderOf(number)) + index;
}

std::string ElementText(int number, std::int32_t index) {
  const tw::ArrayElementEntry* entry = Entry(number, index);
  if (entry->address == 0) return "";
  const std::int32_t length = entry->length < 0 ? -entry->length : entry->length;
  return std::string(reinterpret_cast<const char*>(entry->address),
                     static_cast<std::size_t>(length));
}

std::int64_t LiveBlocks() {
  return std::int64_t{tw::HeapAllocationCount()} - tw::HeapReleaseCount();
}

const char* Text(std::uintptr_t result) {
  return reinterpret_cast<const char*>(result);
}

// ---- Console ----

TEST(AssembleConsole, PrintsThePiecesInTextOrder) {
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("Hello"), tw::kTextTab, Arg("World")}),
            "Hello\tWorld");
  EXPECT_EQ(Newest(), "Hello\tWorld");  // the assembled text is the newest result
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("a"), tw::kTextCrLf}), "a\r\n");
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("")}), "");
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {}), "");  // no items: the empty text
  EXPECT_EQ(Newest(), "");
}

TEST(AssembleConsole, TheMachineFormTakesItemsInReverseOrder) {
  tw_test::Capture capture(tw_test::Stream::Output);
  const std::uintptr_t words[] = {tw::kAssembleToConsole | 3, Arg("c"), Arg("b"), Arg("a")};
  EXPECT_STREQ(Text(tw::TextAssembleWords(words)), "abc");
  EXPECT_EQ(capture.Finish(), "abc");
}

TEST(AssembleConsole, CodesWithoutAnEntryReadAsTheEmptyText) {
  for (tw::StringArg code = 8; code < 127; ++code) {
    if (code >= tw::kFirstResultCode && code < tw::kFirstResultCode + tw::kResultSlotCount) {
      continue;  // the result slots
    }
    EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("<"), code, Arg(">")}), "<>") << code;
  }
}

TEST(AssembleConsole, ItemsOf127TakeTheNewestResultsOldestFirst) {
  MakeTemp("one");
  MakeTemp("two");
  MakeTemp("three");
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {kNewestResult, Arg("-"), kNewestResult}), "two-three");
  MakeTemp("four");
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {kNewestResult, kNewestResult, kNewestResult}),
            "threetwo-threefour");  // the print before is one of the three newest
}

TEST(AssembleConsole, DeferredResultsAreProducedInPlace) {
  tw::TextSubstitute(Arg("aaaa"), Arg("aa"), Arg("b"), 0);
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("["), kNewestResult, Arg("]")}), "[bb]");
  tw::TextCase(Arg("MiXeD"), tw::kCaseUpper);
  tw::TextSubstitute(Arg("x-y"), Arg("-"), Arg("+"), 0);
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {kNewestResult, Arg(" "), kNewestResult}), "MIXED x+y");
}

TEST(AssembleConsole, DeferredPiecesNeedNoHeapBlock) {
  for (int size = 1; size < 64; size += 7) {
    tw::NewZeroText(size);
    const std::uint32_t allocations = tw::HeapAllocationCount();
    const std::uintptr_t result = tw::TextAssemble(tw::kAssembleToWindow, {kNewestResult});
    EXPECT_EQ(tw::HeapAllocationCount(), allocations) << size;
    EXPECT_EQ(Newest(), std::string(static_cast<std::size_t>(size) + 1, '\0')) << size;
    EXPECT_EQ(result, reinterpret_cast<std::uintptr_t>(tw::ResolveString(kNewestResult).text));
  }
}

TEST(AssembleConsole, TwentyNineItemsAreAccepted) {
  std::vector<tw::StringArg> items;
  std::string expected;
  for (int i = 0; i < 29; ++i) {
    static char letters[29][2];
    letters[i][0] = static_cast<char>('A' + i % 26);
    items.push_back(Arg(letters[i]));
    expected += letters[i];
  }
  tw_test::Capture capture(tw_test::Stream::Output);
  tw::TextAssembleList(tw::kAssembleToConsole, items.data(), 29, 0);
  EXPECT_EQ(capture.Finish(), expected);
}

TEST(AssembleConsole, MoreItemsThanTheLimitAreAClearError) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const char* scenario :
       {"thirty-items", "twenty-nine-with-old-block", "thirty-one-machine-items"}) {
    const tw_test::ChildResult child = tw_test::RunChild(scenario);
    EXPECT_EQ(child.exitCode, -6) << scenario;
    EXPECT_NE(child.error.find("Count too high"), std::string::npos) << scenario;
  }
}

TEST(AssembleConsole, WideItemsArePrintedAsUtf8) {
  static const char16_t kWide[] = u"h\u00e9llo \u20ac \U0001F600";
  static const char16_t kSecond[] = u"!";
  EXPECT_EQ(Printed(tw::kAssembleToConsoleUtf8, {Arg(kWide), Arg(kSecond)}),
            "h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80!");
}

TEST(AssembleConsole, AClosedOutputIsNotFatal) {
#ifdef _WIN32
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, nullptr, 0);
  CloseHandle(readEnd);
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, writeEnd);
  tw::TextAssemble(tw::kAssembleToConsole, {Arg("lost")});
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(writeEnd);
#else
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const int saved = dup(STDOUT_FILENO);
  dup2(ends[1], STDOUT_FILENO);
  close(ends[1]);
  tw::TextAssemble(tw::kAssembleToConsole, {Arg("lost")});
  dup2(saved, STDOUT_FILENO);
  close(saved);
#endif
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {Arg("still here")}), "still here");
}

// Print and wait reads a key with WaitKey: natively from a redirected
// standard input; msvcrt's _getch reads only a real console, so not under
// Wine.
#ifndef _WIN32
TEST(AssembleConsole, PrintAndWaitReturnsTheKeyCode) {
  const std::string path = tw_test::TemporaryPath("keys");
  std::ofstream(path, std::ios::binary) << "a\x1bOP";
  const int saved = dup(STDIN_FILENO);
  const int fd = open(path.c_str(), O_RDONLY);
  dup2(fd, STDIN_FILENO);
  close(fd);
  tw_test::Capture capture(tw_test::Stream::Output);
  EXPECT_EQ(tw::TextAssemble(tw::kAssembleToConsole | tw::kAssembleWaitKey, {Arg("Press")}), 97u);
  tw::SetConsoleRedraw(1);
  EXPECT_EQ(tw::TextAssemble(tw::kAssembleToConsole | tw::kAssembleWaitKey, {Arg("?")}), 59u);
  tw::SetConsoleRedraw(0);
  EXPECT_EQ(capture.Finish(), "Press?");
  dup2(saved, STDIN_FILENO);
  close(saved);
  std::remove(path.c_str());
}
#endif

// ---- Caller's buffer ----

struct BufferCase {
  std::int32_t capacity;
  const char* text;
  const char* expected;  // the buffer afterwards ('#' untouched)
};

TEST(AssembleBuffer, ReceivesTheSmallerOfTheLengthAndTheCapacityWithoutTerminator) {
  const BufferCase kCases[] = {
      {3, "Hello", "Hel#######"}, {10, "Hi", "Hi########"},    {5, "Hello", "Hello#####"},
      {0, "Hello", "##########"}, {-4, "Hello", "##########"},
  };
  for (const BufferCase& c : kCases) {
    char buffer[11] = "##########";
    tw::BufferResult(buffer, c.capacity);
    const std::uintptr_t result = tw::TextAssemble(tw::kAssembleToBuffer, {Arg(c.text)});
    EXPECT_STREQ(buffer, c.expected) << c.capacity;
    EXPECT_STREQ(Text(result), c.text);
  }
}

TEST(AssembleBuffer, TheBufferResultComesBeforeTheResultsTheItemsTake) {
  char buffer[11] = "##########";
  tw::BufferResult(buffer, 10);
  MakeTemp("X");
  MakeTemp("Y");
  tw::TextAssemble(tw::kAssembleToBuffer, {kNewestResult, Arg("-"), kNewestResult});
  EXPECT_STREQ(buffer, "X-Y#######");
}

TEST(AssembleBuffer, ADeferredZeroBufferGivesZeroBytes) {
  char buffer[11] = "##########";
  tw::BufferResult(buffer, 10);
  tw::NewZeroText(3);  // a result of 4 bytes: three zero bytes and one more
  tw::TextAssemble(tw::kAssembleToBuffer, {Arg("a"), kNewestResult, Arg("b")});
  EXPECT_EQ(std::string(buffer, 10), std::string("a\0\0\0\0b####", 10));
}

TEST(AssembleBuffer, ATextTooLongForTheAreaGoesThroughABlockOfItsOwn) {
  // Longer than the whole area: it never fits, wherever the free position is.
  std::string big(tw::kTempTextAreaSize + 10000, 'q');
  big.back() = 'z';
  std::vector<char> buffer(big.size(), '#');
  tw::BufferResult(buffer.data(), static_cast<std::int32_t>(big.size()));
  const std::int64_t live = LiveBlocks();
  const std::uint32_t allocations = tw::HeapAllocationCount();
  EXPECT_EQ(tw::TextAssemble(tw::kAssembleToBuffer, {Arg(big.c_str())}), 0u);
  EXPECT_EQ(tw::HeapAllocationCount(), allocations + 1);
  EXPECT_EQ(LiveBlocks(), live);
  EXPECT_EQ(std::string(buffer.data(), buffer.size()), big);
}

TEST(AssembleBuffer, TheRoomMayNotReachTheLast100BytesOfTheArea) {
  for (const std::size_t extra : {0, 1}) {
    // Move the free position close to the wrap point.
    while (tw::TempTextBegin() - tw::TempTextArea() < 460000) MakeTemp(std::string(9000, 't'));
    const std::int64_t offset = tw::TempTextBegin() - tw::TempTextArea();
    const std::size_t fits = static_cast<std::size_t>(tw::kTempTextAreaSize - 100 - 24 - offset);
    const std::string text(fits + extra, 'w');
    std::vector<char> buffer(text.size(), '#');
    tw::BufferResult(buffer.data(), static_cast<std::int32_t>(text.size()));
    const std::uint32_t allocations = tw::HeapAllocationCount();
    const std::uintptr_t result = tw::TextAssemble(tw::kAssembleToBuffer, {Arg(text.c_str())});
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), text);
    if (extra == 0) {  // the room ends 100 bytes before the area's end
      EXPECT_EQ(result, reinterpret_cast<std::uintptr_t>(tw::TempTextArea() + offset));
      EXPECT_EQ(tw::HeapAllocationCount(), allocations);
    } else {  // one byte more: a block of its own
      EXPECT_EQ(result, 0u);
      EXPECT_EQ(tw::HeapAllocationCount(), allocations + 1);
    }
  }
}

// ---- Window text ----

HWND TestWindow() {
#ifdef _WIN32
  // A message-only window needs no display.
  return CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
#else
  static int holder;  // natively any handle holds a text
  return reinterpret_cast<HWND>(&holder);
#endif
}

TEST(AssembleWindow, SetsTheWindowTextAnsiAndWide) {
  HWND window = TestWindow();
  if (window == nullptr) GTEST_SKIP() << "no window could be created";
  tw::SetAssembleWindow(window);
  tw::TextAssemble(tw::kAssembleToWindow, {Arg("Title "), Arg("one")});
  char ansi[32] = {};
  GetWindowTextA(window, ansi, 32);
  EXPECT_STREQ(ansi, "Title one");
  static const char16_t kWide[] = u"Wide \u00e9";
  tw::TextAssemble(tw::kAssembleToWindowWide, {Arg(kWide), Arg(u"!")});
  WCHAR wide[32] = {};
  GetWindowTextW(window, wide, 32);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(wide)), u"Wide \u00e9!");
  tw::SetAssembleWindow(nullptr);
  tw::TextAssemble(tw::kAssembleToWindow, {Arg("unchanged")});
  GetWindowTextA(window, ansi, 32);
  EXPECT_STREQ(ansi, "Wide \xe9!");
#ifdef _WIN32
  DestroyWindow(window);
#endif
}

// ---- File slot ----

class AssembleFile : public ::testing::Test {
 protected:
  void SetUp() override { path_ = tw_test::TemporaryPath("assemble") + ".txt"; }
  void TearDown() override {
    tw::FileClose(kSlot);
    std::remove(path_.c_str());
  }
  static constexpr int kSlot = 4;  // UTF-16 file writes need a slot of 3 or more
  std::string path_;
};

TEST_F(AssembleFile, WritesTheTextToTheSlot) {
  ASSERT_NE(tw::FileOpenWrite(kSlot, path_.c_str(), 'O'), INVALID_HANDLE_VALUE);
  tw::TextAssemble(tw::AssembleToFile(kSlot), {Arg("Hello"), tw::kTextTab, Arg("World")});
  tw::TextAssemble(tw::AssembleToFile(kSlot), {tw::kTextCrLf});
  tw::FileClose(kSlot);
  EXPECT_EQ(FileBytes(path_), "Hello\tWorld\r\n");
}

TEST_F(AssembleFile, WideItemsGetTheByteOrderMarkOncePerOpening) {
  const std::uint32_t wide = tw::AssembleToFile(kSlot) | tw::kAssembleWideItems;
  for (int opening = 0; opening < 2; ++opening) {
    ASSERT_NE(tw::FileOpenWrite(kSlot, path_.c_str(), 'A'), INVALID_HANDLE_VALUE);
    tw::TextAssemble(wide, {Arg(u"ab")});
    tw::TextAssemble(wide, {Arg(u"c")});
    tw::FileClose(kSlot);
  }
  const std::string unit = std::string("\xff\xfe") + std::string("a\0b\0c\0", 6);
  EXPECT_EQ(FileBytes(path_), unit + unit);
}

TEST_F(AssembleFile, TheLengthOverrideWritesZeroBytesAndIsClearedAfterUse) {
  ASSERT_NE(tw::FileOpenWrite(kSlot, path_.c_str(), 'O'), INVALID_HANDLE_VALUE);
  static const char kData[] = {'a', 'b', '\0', 'c', 'd', '\0'};
  tw::SetAssembleLengthOverride(5);
  tw::TextAssemble(tw::AssembleToFile(kSlot), {Arg(kData)});
  EXPECT_EQ(tw::AssembleLengthOverride(), 0);
  tw::TextAssemble(tw::AssembleToFile(kSlot), {Arg(kData)});
  tw::FileClose(kSlot);
  EXPECT_EQ(FileBytes(path_), std::string("ab\0cdab", 7));
}

TEST_F(AssembleFile, ASlotThatNamesNoOpenFileIsAClearErrorNotAWrite) {
  const std::uint32_t kCases[] = {
      1u << 13,                   // 64 or more with slot bits 0
      1u << 30,                   // likewise
      tw::AssembleToFile(kSlot),  // a slot that is not open
      tw::AssembleToFile(11),     // a slot number beyond 10
  };
  for (std::uint32_t control : kCases) {
    tw_test::Capture error(tw_test::Stream::Error);
    EXPECT_EQ(tw::TextAssemble(control, {Arg("x")}), 0u) << control;
    // The system's text for ERROR_INVALID_HANDLE ("Invalid handle." under Wine).
    const std::string box = error.Finish();
    EXPECT_TRUE(box.find("The handle is invalid.") != std::string::npos ||
                box.find("Invalid handle.") != std::string::npos)
        << control << box;
  }
}

// ---- Array element and field ----

class AssembleElement : public ::testing::Test {
 protected:
  void TearDown() override {
    tw::ArrayErase(kArray);
    tw::ArrayErase(kFields);
  }
  static constexpr int kArray = 11;
  static constexpr int kFields = 12;
};

TEST_F(AssembleElement, AssignsAnOwnedCopyAndReleasesTheOldText) {
  tw::ArrayCreate(kArray, 2);
  tw::ArrayElement(kArray, 1);
  const std::uintptr_t result =
      tw::TextAssemble(tw::kAssembleToElement, {Arg("a"), Arg("b"), Arg("c")});
  EXPECT_EQ(ElementText(kArray, 1), "abc");
  EXPECT_EQ(Entry(kArray, 1)->length, 3);
  EXPECT_EQ(result, Entry(kArray, 1)->address);

  const std::uint32_t releases = tw::HeapReleaseCount();
  tw::ArrayElement(kArray, 1);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("")});
  EXPECT_EQ(Entry(kArray, 1)->address, reinterpret_cast<std::uintptr_t>(tw::g_emptyText));
  EXPECT_EQ(Entry(kArray, 1)->length, 0);
  EXPECT_EQ(tw::HeapReleaseCount(), releases + 1);
}

TEST_F(AssembleElement, AnElementCanTakeItsOwnTextAsAPiece) {
  tw::ArrayCreate(kArray, 0);
  tw::ArrayElement(kArray, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("ab")});
  tw::ArrayElement(kArray, 0);  // destination
  tw::ArrayElement(kArray, 0);  // piece
  tw::TextAssemble(tw::kAssembleToElement, {kNewestResult, Arg("-")});
  EXPECT_EQ(ElementText(kArray, 0), "ab-");
  tw::ArrayElement(kArray, 0);  // destination
  tw::ArrayElement(kArray, 0);  // first piece
  tw::ArrayElement(kArray, 0);  // second piece
  tw::TextAssemble(tw::kAssembleToElement, {kNewestResult, Arg("+"), kNewestResult});
  EXPECT_EQ(ElementText(kArray, 0), "ab-+ab-");
}

TEST_F(AssembleElement, ResultsThatViewedTheOldTextBecomeEmpty) {
  tw::ArrayCreate(kArray, 1);
  tw::ArrayElement(kArray, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("old text")});
  tw::ArrayElement(kArray, 0);  // a view of "old text"
  const int view = tw::CurrentResultSlot();
  MakeTemp("other");
  tw::ArrayElement(kArray, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("new")});  // releases "old text"
  EXPECT_EQ(tw::ResultSlotAt(view)->length, 0);
  EXPECT_EQ(Printed(tw::kAssembleToConsole, {tw::kFirstResultCode + view - 1, Arg("|")}), "|");
  EXPECT_EQ(ElementText(kArray, 0), "new");
}

TEST_F(AssembleElement, AFieldIsWrittenBackIntoItsElement) {
  tw::ArrayCreate(kFields, 3);
  tw::ArrayHeaderOf(kFields)->shape = tw::kShapeCommaFields;
  tw::ArrayElement(kFields, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("a,b,c")});

  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 1));
  const std::uintptr_t result = tw::TextAssemble(tw::kAssembleToElement, {Arg("XY")});
  EXPECT_EQ(ElementText(kFields, 0), "a,XY,c");
  EXPECT_EQ(Entry(kFields, 0)->length, 6);
  EXPECT_STREQ(Text(result), "XY");
  EXPECT_EQ(result, reinterpret_cast<std::uintptr_t>(tw::ArrayFieldRecord().fieldText));

  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 0));
  tw::TextAssemble(tw::kAssembleToElement, {Arg("")});
  EXPECT_EQ(ElementText(kFields, 0), ",XY,c");
  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 2));
  tw::TextAssemble(tw::kAssembleToElement, {Arg("last"), Arg("!")});
  EXPECT_EQ(ElementText(kFields, 0), ",XY,last!");
}

TEST_F(AssembleElement, AFieldCanTakeItsOwnValueAsAPiece) {
  tw::ArrayCreate(kFields, 0);
  tw::ArrayHeaderOf(kFields)->shape = tw::kShapeCommaFields;
  tw::ArrayElement(kFields, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("a,b,c")});
  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 1));  // destination
  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 1));  // piece: the field copy itself
  tw::TextAssemble(tw::kAssembleToElement, {Arg("<"), kNewestResult, Arg(">")});
  EXPECT_EQ(ElementText(kFields, 0), "a,<b>,c");
  EXPECT_STREQ(tw::ArrayFieldRecord().fieldText, "<b>");
}

TEST_F(AssembleElement, ALongFieldValueGoesIntoTheElementWhole) {
  tw::ArrayCreate(kFields, 0);
  tw::ArrayHeaderOf(kFields)->shape = tw::kShapeTabFields;
  tw::ArrayElement(kFields, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("a\tb\tc")});
  const std::string big(5000, 'v');
  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 1));
  const std::uintptr_t result = tw::TextAssemble(tw::kAssembleToElement, {Arg(big.c_str())});
  EXPECT_EQ(ElementText(kFields, 0), "a\t" + big + "\tc");
  EXPECT_EQ(std::strlen(Text(result)), static_cast<std::size_t>(tw::kFieldAreaSize - 1));
}

TEST_F(AssembleElement, EmptyingAnEmptyElementsOnlyFieldAllocatesNothing) {
  tw::ArrayCreate(kFields, 0);
  tw::ArrayHeaderOf(kFields)->shape = tw::kShapeTabFields;
  const std::int64_t live = LiveBlocks();
  tw::ArrayElement(kFields, tw::TwoPartIndex(0, 0));
  tw::TextAssemble(tw::kAssembleToElement, {Arg("")});
  EXPECT_EQ(Entry(kFields, 0)->length, 0);
  EXPECT_EQ(LiveBlocks(), live);
}

TEST_F(AssembleElement, ADestinationThatNamesNoLiveElementIsAClearError) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const char* scenario : {"element-without-element", "element-of-erased-array",
                               "element-of-erased-array-reused", "element-moved-by-insert"}) {
    const tw_test::ChildResult child = tw_test::RunChild(scenario);
    EXPECT_EQ(child.exitCode, -7) << scenario;
    EXPECT_NE(child.error.find("Array erased or undefined"), std::string::npos) << scenario;
  }
}

// Random assignments of pieces (literals, and other elements' texts taken as
// the newest results or by their slots' codes) to elements, compared with a
// vector of strings; every owned text is released
// exactly once (the heap counters balance, and the sanitizer lane sees each
// release).
TEST_F(AssembleElement, RandomAssignmentsMatchAStringModel) {
  constexpr int kElements = 6;
  const std::int64_t live = LiveBlocks();
  tw::ArrayCreate(kArray, kElements - 1);
  std::vector<std::string> model(kElements);
  std::mt19937 random(12);
  static const char* const kLiterals[] = {"", "a", "bc", "def", "0123456789"};
  for (int step = 0; step < 3000; ++step) {
    const int target = static_cast<int>(random() % kElements);
    if (random() % 8 == 0) {  // an owned text made outside TextAssemble, then assigned in place
      const std::string text(random() % 12, static_cast<char>('k' + step % 8));
      tw::ElementAssign(Entry(kArray, target), text.data(), static_cast<std::int32_t>(text.size()));
      model[static_cast<std::size_t>(target)] = text;
      continue;
    }
    // A read before the destination's, named by its slot's code among the
    // items (the 127 items take the reads after the destination's).
    const int coded = static_cast<int>(random() % kElements);
    tw::ArrayElement(kArray, static_cast<std::uint32_t>(coded));
    const tw::StringArg codedItem = tw::kFirstResultCode + tw::CurrentResultSlot() - 1;
    tw::ArrayElement(kArray, static_cast<std::uint32_t>(target));
    std::vector<tw::StringArg> items;
    std::vector<int> sources;
    std::string expected;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      const std::uint32_t kind = random() % 4;
      if (kind == 0) {
        const int source = static_cast<int>(random() % kElements);
        sources.push_back(source);
        items.push_back(kNewestResult);
        expected += model[static_cast<std::size_t>(source)];
      } else if (kind == 1) {
        items.push_back(codedItem);
        expected += model[static_cast<std::size_t>(coded)];
      } else {
        const char* literal = kLiterals[random() % 5];
        items.push_back(Arg(literal));
        expected += literal;
      }
    }
    for (int source : sources) tw::ArrayElement(kArray, static_cast<std::uint32_t>(source));
    tw::TextAssembleList(tw::kAssembleToElement, items.data(), count, 0);
    model[static_cast<std::size_t>(target)] = expected.size() > 300 ? "" : expected;
    if (expected.size() > 300) {  // keep the texts short: empty the element again
      tw::ArrayElement(kArray, static_cast<std::uint32_t>(target));
      tw::TextAssemble(tw::kAssembleToElement, {Arg("")});
    }
    ASSERT_EQ(ElementText(kArray, target), model[static_cast<std::size_t>(target)]) << step;
  }
  tw::ArrayErase(kArray);
  EXPECT_EQ(LiveBlocks(), live);
}

// ---- Lifetimes: what a result or piece reads once its storage goes ----

std::string SlotText(int n) {
  const tw::TextView view = tw::ResolveString(tw::kFirstResultCode + n - 1);
  return std::string(view.text, static_cast<std::size_t>(view.length));
}

// An element of array 13 with text, read as the newest result; returns the slot.
int ReadElement(int index, const char* text) {
  tw::ArrayElement(13, static_cast<std::uint32_t>(index));
  tw::TextAssemble(tw::kAssembleToElement, {Arg(text)});
  tw::ArrayElement(13, static_cast<std::uint32_t>(index));
  return tw::CurrentResultSlot();
}

std::string CaseOfReassignedElement() {
  ReadElement(0, "hello world");
  tw::TextCase(kNewestResult, tw::kCaseUpper);
  const int record = tw::CurrentResultSlot();
  tw::ArrayElement(13, 0);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("other")});
  return SlotText(record);
}
std::string ViewOfReloadedLine() {
  tw::Recall(tw::kRecallText, 13, Arg("line one\nline two\nc\nd\ne\nf"), 0);
  tw::ArrayElement(13, 1);
  const int view = tw::CurrentResultSlot();
  tw::TextMid(kNewestResult, 3, 1);
  tw::Recall(tw::kRecallText, 13, Arg("x"), 0);
  return SlotText(view);
}
std::string ViewOfErasedElement() {
  const int view = ReadElement(1, "erased");
  tw::ArrayErase(13);
  return SlotText(view);
}
std::string CaseOfEmptiedElement() {
  ReadElement(1, "emptied");
  tw::TextCase(kNewestResult, 0);
  const int record = tw::CurrentResultSlot();
  tw::ArrayElement(13, 1);
  tw::ArrayInsertDelete(0);
  return SlotText(record);
}
std::string ViewOfReleasedCopy() {
  MakeTemp("copied");
  char* copy = tw::ResultPersist();
  tw::TextMid(Arg(copy), 3, 2);
  const int view = tw::CurrentResultSlot();
  tw::BlockRelease(copy);
  return SlotText(view);
}
std::string FieldBeyondTheLast() {
  tw::ArrayHeaderOf(13)->shape = tw::kShapeCommaFields;
  ReadElement(0, "a,b");
  tw::ArrayElement(13, tw::TwoPartIndex(0, 3));
  tw::TextAssemble(tw::kAssembleToElement, {Arg("X")});
  tw::TextAssemble(tw::kAssembleToElement, {Arg("Y")});  // the field exists now
  return ElementText(13, 0);
}
// The field copy is the room, and a deferred piece reads the field copy.
std::string CaseOfTheFieldCopyIntoItsField() {
  tw::ArrayHeaderOf(13)->shape = tw::kShapeCommaFields;
  ReadElement(0, "a,b,c");
  tw::ArrayElement(13, tw::TwoPartIndex(0, 1));  // destination
  tw::ArrayElement(13, tw::TwoPartIndex(0, 1));
  tw::TextCase(kNewestResult, tw::kCaseUpper);
  tw::TextAssemble(tw::kAssembleToElement, {Arg("X"), kNewestResult, Arg("Y")});
  return ElementText(13, 0);
}
// The room at the wrapped free position covers the text a case record reads
// (the record itself lies after the room).
std::string RoomOverADeferredSource() {
  tw::TempTextReset();
  char* source = tw::TempTextBegin();
  std::memcpy(source, "source", 7);
  tw::TempTextFinish(source + 6);
  tw::TempTextFinish(tw::TempTextBegin() + 1000);
  tw::TextCase(Arg(source), tw::kCaseUpper);
  tw::TempTextFinish(tw::TempTextArea() + tw::kTempTextWrapPoint);
  return Printed(tw::kAssembleToConsole, {Arg("0123456789"), kNewestResult});
}
// A deferred item by its slot code is carried out over the record of an item
// 127 (after the area wrapped); the record must still be what is read.
std::string SlotCodeOverA127Record() {
  tw::TempTextReset();
  tw::NewZeroText(300);
  const int zeros = tw::CurrentResultSlot();
  tw::TempTextFinish(tw::TempTextBegin() + 200);
  tw::TextCase(Arg("hello"), tw::kCaseUpper);
  tw::TempTextFinish(tw::TempTextArea() + tw::kTempTextWrapPoint);
  const std::uintptr_t block = tw::TextAssemble(
      tw::kAssembleToNewBlock, {kNewestResult, tw::kFirstResultCode + zeros - 1, Arg("!")});
  std::string text(Text(block), 306);
  tw::BlockRelease(block);
  return text;
}
// A UTF-16 text of an odd number of bytes ends with a whole zero unit, so the
// console conversion and the file write stop at it (and not in stale bytes).
std::string OddWideText() {
  tw::TempTextReset();
  std::memset(tw::TempTextScratch(200), 'Z', 200);
  const std::string printed = Printed(tw::kAssembleToConsoleUtf8, {Arg(u"ab"), tw::kTextTab});
  const std::string path = tw_test::TemporaryPath("odd-wide");
  tw::FileOpenWrite(3, path.c_str(), 'O');
  tw::TextAssemble(tw::AssembleToFile(3) | tw::kAssembleWideItems, {Arg(u"ab"), tw::kTextTab});
  tw::FileClose(3);
  const std::string bytes = FileBytes(path);
  std::remove(path.c_str());
  return printed + "|" + bytes;
}

struct LifetimeCase {
  const char* what;
  std::string (*run)();
  std::string expected;
};

TEST(Lifetimes, ResultsAndPiecesOfStorageThatWentReadAsTheEmptyText) {
  const LifetimeCase cases[] = {
      {"case of an element reassigned", CaseOfReassignedElement, ""},
      {"view of a line reloaded by Recall", ViewOfReloadedLine, ""},
      {"view of an erased array's element", ViewOfErasedElement, ""},
      {"case of an element emptied in place", CaseOfEmptiedElement, ""},
      {"view of a released persistent copy", ViewOfReleasedCopy, ""},
      {"field beyond the last gets its separators", FieldBeyondTheLast, "a,b,,Y"},
      {"case of the field copy into its field", CaseOfTheFieldCopyIntoItsField, "a,XBY,c"},
      {"room over a deferred piece's source", RoomOverADeferredSource, "0123456789SOURCE"},
      {"slot code carried over a 127 record", SlotCodeOverA127Record,
       "HELLO" + std::string(300, '\0') + "!"},
      {"odd UTF-16 text", OddWideText,
       std::string("ab\t|\xFF\xFE"
                   "a\0b\0\t\0",
                   12)},
  };
  for (const LifetimeCase& c : cases) {
    tw::ArrayCreate(13, 2);
    EXPECT_EQ(c.run(), c.expected) << c.what;
    tw::ArrayErase(13);
  }
}

// ---- New pooled block ----

TEST(AssembleNewBlock, ReplacesTheOldBlockInThePool) {
  const int pooled = tw::PooledBlockCount();
  const std::uintptr_t first = tw::TextAssemble(tw::kAssembleToNewBlock, {Arg("ab"), Arg("cd")});
  EXPECT_STREQ(Text(first), "abcd");
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 1);
  const std::uintptr_t second = tw::TextAssemble(tw::kAssembleToNewBlock, {Arg("x")}, first);
  EXPECT_STREQ(Text(second), "x");
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 1);
  const std::uintptr_t* entries = tw::PoolEntries();
  for (int i = 0; i < tw::TwHeapStrings; ++i) EXPECT_NE(entries[i], first);
  std::vector<tw::StringArg> items(28, Arg("y"));
  const std::uintptr_t third =
      tw::TextAssembleList(tw::kAssembleToNewBlock, items.data(), 28, second);
  EXPECT_EQ(std::string(Text(third)), std::string(28, 'y'));
  tw::BlockRelease(third);
  EXPECT_EQ(tw::PooledBlockCount(), pooled);
}

}  // namespace
