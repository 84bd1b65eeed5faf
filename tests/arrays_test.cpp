// String arrays, record arrays and the string-slot pool: creation and erasure
// with heap-counter leak checks, element access and its temporary results,
// tab and comma fields against a small reference, insertion and deletion
// against a vector model, exchange, record arrays and their file writes, the
// pool with its register-keeping scan, and the fatal errors (in child
// processes).
#include "support/arrays.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/strings.h"
#include "tools/capture.h"
#include "tools/child.h"
#include "tools/references.h"
#include "tools/xmm_call.h"
#include "trace/msgbox.h"
#include "trace/text.h"

namespace {

using tw_test::ReferenceField;

using tw::TwoPartIndex;

std::string Text(const tw::ElementText& element) {
  const std::int32_t length = element.length < 0 ? -element.length : element.length;
  return std::string(element.text, static_cast<std::size_t>(length));
}

tw::ArrayElementEntry* Entry(int number, std::int32_t index) {
  return tw::ArrayElements(tw::ArrayHeaderOf(number)) + index;
}

void Assign(int number, std::int32_t index, const std::string& text) {
  tw::ElementAssign(Entry(number, index), text.data(), static_cast<std::int32_t>(text.size()));
}

// Allocations minus releases of the heap counters.
std::int64_t LiveBlocks() {
  return std::int64_t{tw::HeapAllocationCount()} - tw::HeapReleaseCount();
}

// ---- Child scenarios: fatal errors end the process ----

void ElementOfErased() {
  tw::ArrayCreate(3, 1);
  tw::ArrayErase(3);
  tw::ArrayElement(3, 0);
}
void ElementOfNeverCreated() {
  tw::ArrayElement(5, 0);
}
void ElementOfNumberOutside() {
  tw::ArrayElement(20, 0);
}
void CreateNumberOutside() {
  tw::ArrayCreate(-2, 3);
}
void ElementOfRecordArray() {
  tw::RecordArrayCreate(4, 8, 2);
  tw::ArrayElement(4, 0);
}
void IndexBeyondCount() {
  tw::SetCurrentLine(42);
  tw::ArrayCreate(2, 4);
  tw::ArrayElement(2, 5);
}
void NegativeIndex() {
  tw::ArrayCreate(2, 4);
  tw::ArrayElement(2, static_cast<std::uint32_t>(-1));
}
void ColumnBeyondRowWidth() {
  tw::ArrayCreate(2, TwoPartIndex(2, 1));  // width 3, two rows
  tw::ArrayElement(2, TwoPartIndex(3, 0));
}
void HighBitsWithoutTwoPart() {
  tw::ArrayCreate(2, 9);
  tw::ArrayHeaderOf(2)->shape = tw::kShapeTabFields;
  tw::ArrayElement(2, 0x00800001u);  // bits 23 to 30 without bit 31: not element 1
}
void InsertWithoutArray() {
  tw::LastArrayAccess() = {7, 0};
  tw::ArrayInsertDelete(1);
}
void InsertAfterErase() {
  tw::ArrayCreate(6, 3);
  tw::ArrayElement(6, 2);
  tw::ArrayErase(6);
  tw::ArrayInsertDelete(-1);
}
void RowWidthOverflow() {
  tw::ArrayCreate(1, TwoPartIndex(0x7FFFFF, 0));
}
void CountTooHigh() {
  tw::ArrayCreate(1, 0x7FFFFFFEu);  // plain: 2^31 - 1 elements
}
void RecordIndexBeyond() {
  tw::RecordArrayCreate(4, 8, 2);
  tw::RecordCopy(3, 0, 4);
}
void NegativeRecordSize() {
  tw::RecordArrayCreate(4, -8, 2);
}
void RecordCopyOfStringArray() {
  tw::ArrayCreate(4, 2);
  tw::RecordCopy(0, 1, 4);
}
// Releasing every pooled block releases the record array's block: the table
// must not name it any more.
void RecordCopyAfterPoolRelease() {
  tw::RecordArrayCreate(3, 4, 2);
  tw::BlockRelease(tw::kEveryBlock);
  tw::RecordCopy(0, 1, 3);
}

// Fills the pool; the next allocation must fail before it allocates. The
// recovery point shows what the report left: no pooled block and no block
// allocated for the refused request.
std::jmp_buf g_restart;
std::int64_t g_liveBefore = 0;
std::uint32_t g_allocationsBefore = 0;

void Say(const std::string& text) {
  tw::ConsoleWrite(text.c_str());
}

void ReportPoolFull(int number, const char*) {
  Say("error " + std::to_string(number) + " pooled " + std::to_string(tw::PooledBlockCount()) +
      " allocations " + std::to_string(tw::HeapAllocationCount() - g_allocationsBefore) + " live " +
      std::to_string(LiveBlocks() - g_liveBefore) + "\n");
  std::longjmp(g_restart, 1);
}

void PoolFull() {
  g_liveBefore = LiveBlocks();
  while (tw::PooledBlockCount() < tw::TwHeapStrings) tw::BlockAllocate(16, 0);
  g_allocationsBefore = tw::HeapAllocationCount();
  tw::SetRecoveryPoint(ReportPoolFull);
  if (setjmp(g_restart) == 0) tw::BlockAllocate(16, 0);
  ExitProcess(3);
}

void PoolFullRegister() {
  static char block[16];
  while (tw::PooledBlockCount() < tw::TwHeapStrings) tw::BlockAllocate(16, 0);
  tw::BlockRegister(block);
}

// The fatal-error report erases every array and empties the pool; after the
// recovery point the program starts again with empty arrays and the heap
// counters show nothing left behind.
void ReportAfterErase(int number, const char*) {
  std::string entries;
  for (int n = 0; n < tw::kArrayCount; ++n) {
    const std::uintptr_t entry = tw::ArrayTableEntry(n);
    entries += entry == tw::kArrayErased ? 'E' : entry == tw::kArrayNeverCreated ? '0' : 'H';
  }
  Say("error " + std::to_string(number) + " entries " + entries + " pooled " +
      std::to_string(tw::PooledBlockCount()) + " live " +
      std::to_string(LiveBlocks() - g_liveBefore) + "\n");
  std::longjmp(g_restart, 1);
}

void ReportErasesEverything() {
  g_liveBefore = LiveBlocks();
  tw::ArrayCreate(1, 3);
  Assign(1, 0, "owned");
  Assign(1, 3, "also owned");
  tw::ArrayCreate(19, TwoPartIndex(1, 1));
  Assign(19, 2, "x");
  tw::RecordArrayCreate(7, 12, 4);
  tw::BlockAllocate(100, 0);
  tw::TextTrim(tw::Arg(" persisted "), tw::kTrimBoth);
  tw::ResultPersist();
  tw::SetRecoveryPoint(ReportAfterErase);
  if (setjmp(g_restart) == 0) tw::ArrayElement(2, 0);
  // Starting over: persistent copies and arrays work again.
  tw::SetRecoveryPoint(nullptr);
  tw::TextTrim(tw::Arg(" again "), tw::kTrimBoth);
  Say(std::string(tw::ResultPersist()) + "\n");
  tw::ArrayCreate(1, 0);
  Assign(1, 0, "new");
  Say(Text(tw::ArrayElement(1, 0)) + "\n");
  ExitProcess(3);
}

const tw_test::Scenario kScenarios[] = {
    {"erased", ElementOfErased},
    {"never-created", ElementOfNeverCreated},
    {"number-outside", ElementOfNumberOutside},
    {"create-outside", CreateNumberOutside},
    {"record-element", ElementOfRecordArray},
    {"index-beyond", IndexBeyondCount},
    {"negative-index", NegativeIndex},
    {"column-beyond", ColumnBeyondRowWidth},
    {"high-bits", HighBitsWithoutTwoPart},
    {"insert-no-array", InsertWithoutArray},
    {"insert-after-erase", InsertAfterErase},
    {"row-width-overflow", RowWidthOverflow},
    {"count-too-high", CountTooHigh},
    {"record-index", RecordIndexBeyond},
    {"record-size", NegativeRecordSize},
    {"record-copy-string", RecordCopyOfStringArray},
    {"record-copy-released", RecordCopyAfterPoolRelease},
    {"pool-full", PoolFull},
    {"pool-full-register", PoolFullRegister},
    {"report-erases", ReportErasesEverything},
};
const int g_child =
    tw_test::RunScenarioIfChild(kScenarios, sizeof kScenarios / sizeof kScenarios[0]);

std::string FatalBox(const std::string& text) {
  return "[message box] Fatal error:\n" + text + "\n[answer] ok\n";
}

const char kCountTooHigh[] = "Line ?: Count too high\nor wrong # of dimensions";
const char kArrayUndefined[] = "Line ?: Array erased or undefined";

struct FatalCase {
  const char* scenario;
  int exitCode;
  const char* message;
};

TEST(ArrayFatalErrors, BadInputEndsInTheDocumentedError) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const FatalCase cases[] = {
      {"erased", -7, kArrayUndefined},
      {"never-created", -7, kArrayUndefined},
      {"number-outside", -7, kArrayUndefined},
      {"create-outside", -7, kArrayUndefined},
      {"record-element", -7, kArrayUndefined},
      {"index-beyond", -6, "Line 42: Count too high\nor wrong # of dimensions"},
      {"negative-index", -6, kCountTooHigh},
      {"column-beyond", -6, kCountTooHigh},
      {"high-bits", -6, kCountTooHigh},
      {"insert-no-array", -6, kCountTooHigh},
      {"insert-after-erase", -6, kCountTooHigh},
      {"row-width-overflow", -6, kCountTooHigh},
      {"count-too-high", -6, kCountTooHigh},
      {"record-index", -6, kCountTooHigh},
      {"record-size", -6, kCountTooHigh},
      {"record-copy-string", -7, kArrayUndefined},
      {"record-copy-released", -7, kArrayUndefined},
      {"pool-full-register", -8, "Too many strings: increase TwHeapStrings"},
  };
  for (const FatalCase& c : cases) {
    const tw_test::ChildResult child = tw_test::RunChild(c.scenario);
    EXPECT_EQ(child.exitCode, c.exitCode) << c.scenario;
    EXPECT_EQ(child.error, FatalBox(c.message)) << c.scenario;
  }
}

TEST(ArrayFatalErrors, FullPoolAllocatesNothingAndTheReportEmptiesThePool) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("pool-full");
  EXPECT_EQ(child.exitCode, 3);
  EXPECT_EQ(child.error, FatalBox("Too many strings: increase TwHeapStrings"));
  EXPECT_EQ(child.output, "error 8 pooled 0 allocations 0 live 0\n");
}

TEST(ArrayFatalErrors, TheReportErasesEveryArrayAndPooledBlock) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("report-erases");
  EXPECT_EQ(child.exitCode, 3);
  EXPECT_EQ(child.error, FatalBox(kArrayUndefined));
  EXPECT_EQ(child.output, "error 7 entries 0E00000E00000000000E pooled 0 live 0\nagain\nnew\n");
}

// ---- Creation and erasure ----

class Arrays : public ::testing::Test {
 protected:
  void SetUp() override { tw::ArrayErase(tw::kEveryArray); }
  void TearDown() override { tw::ArrayErase(tw::kEveryArray); }
};

TEST_F(Arrays, CreateGivesCountShapeAndCallerValue) {
  struct Case {
    std::uint32_t highest;
    std::int32_t count;
    std::int32_t shape;
  };
  const Case cases[] = {
      {0, 1, 0},
      {9, 10, 0},
      {0xFFFFFFFFu, 0, 0},  // -1: an empty array
      {TwoPartIndex(2, 0), 3, 3},
      {TwoPartIndex(2, 1), 6, 3},
      {TwoPartIndex(0, 255), 256, 1},
      {TwoPartIndex(99, 4), 500, 100},
  };
  for (const Case& c : cases) {
    tw::ArrayHeader* header = tw::ArrayCreate(5, c.highest, 1234);
    EXPECT_EQ(tw::ArrayTableEntry(5), reinterpret_cast<std::uintptr_t>(header));
    EXPECT_EQ(tw::ArrayHeaderOf(5), header);
    EXPECT_EQ(header->count, c.count) << c.highest;
    EXPECT_EQ(header->shape, c.shape) << c.highest;
    EXPECT_EQ(header->callerValue, 1234);
    EXPECT_EQ(header->textBlock, 0u);
    for (std::int32_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(tw::ArrayElements(header)[i].address, 0u);
      EXPECT_EQ(tw::ArrayElements(header)[i].length, 0);
    }
  }
}

TEST_F(Arrays, TableEntriesGoFromNeverCreatedToHeaderToErased) {
  EXPECT_EQ(tw::ArrayTableEntry(8), tw::kArrayNeverCreated) << "no test creates array 8 first";
  tw::ArrayErase(8);
  EXPECT_EQ(tw::ArrayTableEntry(8), tw::kArrayNeverCreated) << "nothing to erase";
  tw::ArrayCreate(8, 2);
  EXPECT_NE(tw::ArrayHeaderOf(8), nullptr);
  tw::ArrayErase(8);
  EXPECT_EQ(tw::ArrayTableEntry(8), tw::kArrayErased);
  EXPECT_EQ(tw::ArrayHeaderOf(8), nullptr);
  tw::ArrayErase(8);
  EXPECT_EQ(tw::ArrayTableEntry(8), tw::kArrayErased) << "erasing an erased array does nothing";
  for (int outside : {-2, 20, 1000}) {
    tw::ArrayErase(outside);  // nothing happens
    EXPECT_EQ(tw::ArrayTableEntry(outside), tw::kArrayNeverCreated);
    EXPECT_EQ(tw::ArrayHeaderOf(outside), nullptr);
  }
}

TEST_F(Arrays, ErasureAndRecreationReleaseEveryOwnedText) {
  const std::int64_t live = LiveBlocks();
  tw::ArrayCreate(3, 5);
  for (int i = 0; i < 6; ++i) Assign(3, i, "element " + std::to_string(i));
  Assign(3, 2, "");  // owned text released, element empty
  // A borrowed element and a text block with its odd address form.
  tw::ArrayHeader* header = tw::ArrayHeaderOf(3);
  char* block = static_cast<char*>(tw::HeapBlockAllocate(64, HEAP_ZERO_MEMORY));
  std::strcpy(block + 8, "borrowed");
  header->textBlock = tw::TextBlockWord(block, block + 8);
  EXPECT_EQ(header->textBlock & 1, 1u);
  EXPECT_EQ(tw::TextBlockHeap(header->textBlock), block);
  EXPECT_EQ(tw::TextBlockStart(header->textBlock), block + 8);
  tw::ArrayElements(header)[2] = {reinterpret_cast<std::uintptr_t>(block + 8), -8};
  EXPECT_EQ(Text(tw::ArrayElement(3, 2)), "borrowed");
  EXPECT_EQ(tw::ArrayElement(3, 2).length, -8);
  // Re-creating with fewer elements releases the old array whole.
  tw::ArrayCreate(3, 1);
  Assign(3, 1, "kept");
  tw::ArrayCreate(4, TwoPartIndex(3, 3));
  Assign(4, 15, "last");
  tw::ArrayErase(tw::kEveryArray);
  EXPECT_EQ(LiveBlocks(), live);
  tw::ArrayErase(tw::kEveryArray);
  EXPECT_EQ(LiveBlocks(), live) << "a second erasure releases nothing";
}

// ---- Element access ----

TEST_F(Arrays, ElementIsANewTemporaryResultNamingItsEntry) {
  tw::ArrayCreate(2, 3);
  Assign(2, 1, "one");
  int previous = tw::CurrentResultSlot();
  for (std::int32_t i : {1, 1, 0, 3}) {
    const tw::ElementText element = tw::ArrayElement(2, static_cast<std::uint32_t>(i));
    const int slotNumber = tw::CurrentResultSlot();
    EXPECT_NE(slotNumber, previous) << "every access takes a new slot";
    previous = slotNumber;
    const tw::ResultSlotRecord* slot = tw::ResultSlotAt(slotNumber);
    EXPECT_EQ(slot->address, reinterpret_cast<std::uintptr_t>(element.text));
    EXPECT_EQ(slot->length, element.length);
    EXPECT_EQ(tw::ResultOrigin(slot), reinterpret_cast<std::uintptr_t>(Entry(2, i)));
    EXPECT_EQ(tw::LastArrayAccess().number, 2);
    EXPECT_EQ(tw::LastArrayAccess().index, i);
  }
  EXPECT_EQ(Text(tw::ArrayElement(2, 1)), "one");
  EXPECT_EQ(tw::ArrayElement(2, 1).length, 3);
  const tw::ElementText empty = tw::ArrayElement(2, 0);
  EXPECT_EQ(empty.text, tw::g_emptyText) << "address 0 reads as the shared empty text";
  EXPECT_EQ(empty.length, 0);
  const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
  EXPECT_EQ(newest.text, tw::g_emptyText);
}

TEST_F(Arrays, TwoPartIndexOfATwoDimensionalArray) {
  tw::ArrayCreate(9, TwoPartIndex(3, 2));  // width 4, three rows
  for (std::uint32_t row = 0; row < 3; ++row) {
    for (std::uint32_t column = 0; column < 4; ++column) {
      Assign(9, static_cast<std::int32_t>(row * 4 + column),
             std::to_string(column) + "," + std::to_string(row));
    }
  }
  for (std::uint32_t row = 0; row < 3; ++row) {
    for (std::uint32_t column = 0; column < 4; ++column) {
      EXPECT_EQ(Text(tw::ArrayElement(9, TwoPartIndex(column, row))),
                std::to_string(column) + "," + std::to_string(row));
      EXPECT_EQ(tw::LastArrayAccess().index, static_cast<std::int32_t>(row * 4 + column));
    }
  }
  EXPECT_EQ(Text(tw::ArrayElement(9, 6)), "2,1") << "a plain index reads the element directly";
}

// ---- Fields ----

struct FieldCase {
  std::int32_t shape;
  const char* text;
  int field;
  const char* expected;  // nullptr: the text ends before the field
};

const FieldCase kFieldCases[] = {
    // Comma fields.
    {tw::kShapeCommaFields, "x,\"q,r\",z", 1, "q,r"},
    {tw::kShapeCommaFields, "x,\"q,r\",z", 2, "z"},
    {tw::kShapeCommaFields, "x,\"q,r\",z", 0, "x"},
    {tw::kShapeCommaFields, "\"pq\",z", 0, "pq"},
    {tw::kShapeCommaFields, "\"pq\",z", 1, "z"},
    {tw::kShapeCommaFields, "p,,z", 1, ""},
    {tw::kShapeCommaFields, "p,,z", 2, "z"},
    {tw::kShapeCommaFields, "\"p,q\",z", 0, "p"},  // the first field is cut at its comma
    {tw::kShapeCommaFields, "\"p,q\",z", 1, "q"},  // its closing quote is dropped
    {tw::kShapeCommaFields, "\"p,q\",z", 2, "z"},
    {tw::kShapeCommaFields, "a,\"b,c", 1, "b,c"},  // no closing quote: to the end
    {tw::kShapeCommaFields, "a,\"b,c", 2, nullptr},
    {tw::kShapeCommaFields, "a,b", 2, nullptr},  // beyond the last field
    {tw::kShapeCommaFields, "a,b,", 2, ""},      // an empty last field exists
    {tw::kShapeCommaFields, "a,b\"", 1, "b"},    // a quote before the end is dropped
    {tw::kShapeCommaFields, "a,\"\"", 1, ""},
    {tw::kShapeCommaFields, "a,\"", 1, ""},
    {tw::kShapeCommaFields, "a,\"x\"y,z", 1, "x\"y"},
    {tw::kShapeCommaFields, "", 0, ""},
    {tw::kShapeCommaFields, "", 1, nullptr},
    {tw::kShapeCommaFields, "\"", 0, ""},
    {tw::kShapeCommaFields, "a\tb,c", 0, "a\tb"},
    {tw::kShapeCommaFields - 50, "a,b", 1, "b"},  // every shape below -120 reads commas
    // Tab fields: taken without any change.
    {tw::kShapeTabFields, "a\tb\tc", 0, "a"},
    {tw::kShapeTabFields, "a\tb\tc", 2, "c"},
    {tw::kShapeTabFields, "a\tb\tc", 3, nullptr},
    {tw::kShapeTabFields, "a,\tb\"", 0, "a,"},
    {tw::kShapeTabFields, "a,\tb\"", 1, "b\""},
    {tw::kShapeTabFields, "\"q\"\tr", 0, "\"q\""},
    {tw::kShapeTabFields, "a\t\tb", 1, ""},
    {tw::kShapeTabFields, "a\t", 1, ""},
    {tw::kShapeTabFields, "a\t", 2, nullptr},
};

TEST_F(Arrays, FieldsFollowTheQuoteRules) {
  for (const FieldCase& c : kFieldCases) {
    tw::ArrayCreate(11, 0);
    tw::ArrayHeaderOf(11)->shape = c.shape;
    Assign(11, 0, c.text);
    const tw::ElementText field = tw::ArrayElement(11, TwoPartIndex(0, c.field));
    EXPECT_EQ(Text(field), c.expected != nullptr ? c.expected : "")
        << c.text << " field " << c.field;
    EXPECT_GE(field.length, 0);
    const tw::FieldRecord& record = tw::ArrayFieldRecord();
    EXPECT_EQ(record.elementEntry, Entry(11, 0));
    EXPECT_EQ(record.elementText, reinterpret_cast<const char*>(Entry(11, 0)->address));
    EXPECT_EQ(record.elementLength, static_cast<std::int32_t>(std::strlen(c.text)));
    const tw::ResultSlotRecord* slot = tw::ResultSlotAt(tw::CurrentResultSlot());
    EXPECT_EQ(tw::ResultOrigin(slot), reinterpret_cast<std::uintptr_t>(Entry(11, 0)));
    if (c.expected == nullptr) {
      EXPECT_EQ(field.text, tw::g_emptyText);
      EXPECT_EQ(record.fieldLength, 0);
      EXPECT_EQ(record.fieldStart, record.elementText + std::strlen(c.text));
      continue;
    }
    EXPECT_EQ(field.text, record.fieldText) << "the copy in the field record";
    EXPECT_EQ(std::string(record.fieldStart, static_cast<std::size_t>(record.fieldLength)),
              c.expected);
    EXPECT_EQ(record.fieldText[field.length], '\0');
  }
}

TEST_F(Arrays, PlainIndexOfAFieldArraySelectsNoField) {
  tw::ArrayCreate(12, 2);
  tw::ArrayHeaderOf(12)->shape = tw::kShapeTabFields;
  Assign(12, 2, "a\tb");
  EXPECT_EQ(Text(tw::ArrayElement(12, 2)), "a\tb");
  EXPECT_EQ(Text(tw::ArrayElement(12, TwoPartIndex(2, 1))), "b");
  EXPECT_EQ(tw::LastArrayAccess().index, 2);
}

TEST_F(Arrays, ALongFieldIsCutToTheFieldArea) {
  tw::ArrayCreate(13, 0);
  tw::ArrayHeaderOf(13)->shape = tw::kShapeTabFields;
  const std::string longField(5000, 'w');
  Assign(13, 0, "a\t" + longField + "\tz");
  const tw::ElementText field = tw::ArrayElement(13, TwoPartIndex(0, 1));
  EXPECT_EQ(field.length, tw::kFieldAreaSize - 1);
  EXPECT_EQ(Text(field), longField.substr(0, tw::kFieldAreaSize - 1));
  EXPECT_EQ(field.text[field.length], '\0');
  EXPECT_EQ(tw::ArrayFieldRecord().fieldLength, 5000) << "the record keeps the field's extent";
  EXPECT_EQ(Text(tw::ArrayElement(13, TwoPartIndex(0, 2))), "z");
}

TEST_F(Arrays, FieldsOfABorrowedElementEndAtItsLengthOrAZero) {
  tw::ArrayCreate(14, 1);
  tw::ArrayHeaderOf(14)->shape = tw::kShapeCommaFields;
  static const char block[] = "a,b,c|d,e\0f,g";
  tw::ArrayElements(tw::ArrayHeaderOf(14))[0] = {reinterpret_cast<std::uintptr_t>(block), -5};
  tw::ArrayElements(tw::ArrayHeaderOf(14))[1] = {reinterpret_cast<std::uintptr_t>(block + 6), -7};
  EXPECT_EQ(Text(tw::ArrayElement(14, TwoPartIndex(0, 2))), "c");
  EXPECT_EQ(Text(tw::ArrayElement(14, TwoPartIndex(0, 3))), "") << "not past the length";
  EXPECT_EQ(tw::ArrayFieldRecord().elementLength, -5);
  EXPECT_EQ(Text(tw::ArrayElement(14, TwoPartIndex(1, 1))), "e");
  EXPECT_EQ(Text(tw::ArrayElement(14, TwoPartIndex(1, 2))), "") << "the text ends at a zero";
  tw::ArrayElements(tw::ArrayHeaderOf(14))[0] = {};
  tw::ArrayElements(tw::ArrayHeaderOf(14))[1] = {};
}

TEST_F(Arrays, RandomFieldsMatchTheReference) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'a', 'b', ',', '"', '\t', '\0', ' '};
  tw::ArrayCreate(15, 0);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 13);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % sizeof alphabet]);
    const std::int32_t shape = random() % 2 == 0 ? tw::kShapeTabFields : tw::kShapeCommaFields;
    const int wanted = static_cast<int>(random() % 6);
    tw::ArrayHeaderOf(15)->shape = shape;
    Assign(15, 0, text);
    const std::optional<std::string> expected = ReferenceField(text, shape, wanted);
    const tw::ElementText field =
        tw::ArrayElement(15, TwoPartIndex(0, static_cast<std::uint32_t>(wanted)));
    ASSERT_EQ(Text(field), expected.value_or("")) << "shape " << shape << " field " << wanted;
    tw::FieldSpan span = {};
    ASSERT_EQ(
        tw::SelectField(text.data(), static_cast<std::int32_t>(text.size()), shape, wanted, &span),
        expected.has_value());
  }
}

// ---- Insertion and deletion ----

TEST_F(Arrays, InsertDeleteActsAtTheLastAccess) {
  tw::ArrayCreate(6, 2);
  Assign(6, 0, "a");
  Assign(6, 1, "b");
  Assign(6, 2, "c");
  tw::ArrayElement(6, 1);
  tw::ArrayInsertDelete(1);
  ASSERT_EQ(tw::ArrayHeaderOf(6)->count, 4);
  EXPECT_EQ(Text(tw::ArrayElement(6, 1)), "");
  EXPECT_EQ(tw::ArrayElement(6, 1).text, tw::g_emptyText);
  EXPECT_EQ(Text(tw::ArrayElement(6, 2)), "b");
  tw::ArrayElement(6, 0);
  tw::ArrayInsertDelete(-1);
  ASSERT_EQ(tw::ArrayHeaderOf(6)->count, 3);
  EXPECT_EQ(Text(tw::ArrayElement(6, 0)), "");
  EXPECT_EQ(Text(tw::ArrayElement(6, 2)), "c");
  tw::ArrayInsertDelete(0);  // the last access is element 2
  EXPECT_EQ(Text(tw::ArrayElement(6, 2)), "");
  EXPECT_EQ(tw::ArrayHeaderOf(6)->count, 3);
  // Deleting the only element of a one-element array changes nothing.
  tw::ArrayCreate(7, 0);
  Assign(7, 0, "only");
  tw::ArrayElement(7, 0);
  tw::ArrayInsertDelete(-1);
  EXPECT_EQ(tw::ArrayHeaderOf(7)->count, 1);
  EXPECT_EQ(Text(tw::ArrayElement(7, 0)), "only");
}

// Random accesses, insertions and deletions against a vector of strings that
// follows the documented rules; the heap counters show no block left behind.
TEST_F(Arrays, RandomInsertDeleteMatchesAVectorModel) {
  const std::int64_t live = LiveBlocks();
  std::mt19937 random(7);
  std::vector<std::string> model(5);
  tw::ArrayCreate(10, 4);
  for (int round = 0; round < 3000; ++round) {
    const std::int32_t index = static_cast<std::int32_t>(random() % model.size());
    tw::ArrayElement(10, static_cast<std::uint32_t>(index));
    const std::size_t at = static_cast<std::size_t>(index);
    if (random() % 3 == 0) {
      const std::string text = "t" + std::to_string(round);
      Assign(10, index, text);
      model[at] = text;
      continue;
    }
    const std::int32_t n = static_cast<std::int32_t>(random() % 9) - 4;
    tw::ArrayInsertDelete(n);
    if (n > 0) {
      model.insert(model.begin() + index, static_cast<std::size_t>(n), std::string());
    } else if (n == 0) {
      model[at].clear();
    } else {
      const std::size_t removed =
          std::min<std::size_t>(static_cast<std::size_t>(-n), model.size() - at);
      if (removed < model.size())
        model.erase(model.begin() + index, model.begin() + index + static_cast<long>(removed));
    }
    ASSERT_EQ(tw::ArrayHeaderOf(10)->count, static_cast<std::int32_t>(model.size())) << round;
    if (model.size() > 40) {
      tw::ArrayElement(10, 0);
      tw::ArrayInsertDelete(-30);
      model.erase(model.begin(), model.begin() + 30);
    }
  }
  for (std::size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(Text(tw::ArrayElement(10, static_cast<std::uint32_t>(i))), model[i]) << i;
  }
  tw::ArrayErase(10);
  EXPECT_EQ(LiveBlocks(), live);
}

TEST_F(Arrays, SwapExchangesTheTableEntries) {
  tw::ArrayHeader* first = tw::ArrayCreate(1, 0);
  Assign(1, 0, "first");
  tw::RecordArrayCreate(2, 4, 0);
  const std::uintptr_t record = tw::ArrayTableEntry(2);
  tw::ArraySwap(1, 2);
  EXPECT_EQ(tw::ArrayHeaderOf(2), first);
  EXPECT_EQ(tw::ArrayTableEntry(1), record);
  EXPECT_NE(tw::RecordArrayHeadOf(1), nullptr) << "the kind travels with the entry";
  EXPECT_EQ(Text(tw::ArrayElement(2, 0)), "first");
  tw::ArrayCreate(3, 0);
  tw::ArrayErase(3);
  tw::ArraySwap(3, 2);
  EXPECT_EQ(tw::ArrayHeaderOf(3), first);
  EXPECT_EQ(tw::ArrayTableEntry(2), tw::kArrayErased);
}

// ---- Record arrays ----

TEST_F(Arrays, RecordArraysCopyRecordsAndWriteThemToAFileSlot) {
  const int pooled = tw::PooledBlockCount();
  tw::RecordArrayCreate(4, 4, 5);
  const tw::RecordArrayHead* head = tw::RecordArrayHeadOf(4);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->count, 6);
  EXPECT_EQ(head->recordSize, 4);
  EXPECT_EQ(tw::ArrayTableEntry(4), reinterpret_cast<std::uintptr_t>(head + 1));
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 1) << "the block is pooled";
  for (std::int32_t i = 0; i < 6; ++i) {
    const std::int32_t value = 100 + i;
    std::memcpy(tw::RecordAt(4, i), &value, 4);
  }
  tw::RecordCopy(5, 0, 4);
  std::int32_t value = 0;
  std::memcpy(&value, tw::RecordAt(4, 0), 4);
  EXPECT_EQ(value, 105);

  const std::string folder = tw_test::TemporaryPath("arrays");
  std::filesystem::create_directories(folder);
  const std::string name = folder + "/records.bin";
  ASSERT_NE(tw::FileOpenWrite(3, name.c_str(), 'O'), INVALID_HANDLE_VALUE);
  tw::RecordCopy(tw::RecordFileRequest(3, 2), 1, 4);  // records 1 and 2
  tw::RecordCopy(tw::RecordFileRequest(3, 0), 4, 4);  // records 4 to the end
  tw::FileClose(3);
  std::ifstream in(name, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::int32_t expected[] = {101, 102, 104, 105};
  ASSERT_EQ(bytes.str().size(), sizeof expected);
  EXPECT_EQ(std::memcmp(bytes.str().data(), expected, sizeof expected), 0);

  tw::RecordArrayCreate(4, 16, 2);  // re-creation releases the old block
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 1);
  tw::RecordArrayErase(4);
  EXPECT_EQ(tw::ArrayTableEntry(4), tw::kArrayNeverCreated);
  EXPECT_EQ(tw::PooledBlockCount(), pooled);
  tw::RecordArrayCreate(4, 0, -1);  // an empty record array
  EXPECT_EQ(tw::RecordArrayHeadOf(4)->count, 0);
  tw::ArrayErase(4);  // erases a record array as well
  EXPECT_EQ(tw::ArrayTableEntry(4), tw::kArrayErased);
  EXPECT_EQ(tw::PooledBlockCount(), pooled);
}

int g_systemBoxes = 0;

int CountSystemBox(const char*, const char* caption, UINT) {
  if (caption == nullptr) ++g_systemBoxes;  // the system-call box has no caption
  return IDOK;
}

TEST_F(Arrays, RecordWriteToAClosedSlotShowsTheFailure) {
  tw::RecordArrayCreate(4, 4, 1);
  tw::FileClose(5);
  g_systemBoxes = 0;
  tw::SetMessageBoxFunction(CountSystemBox);
  tw::RecordCopy(tw::RecordFileRequest(5, 0), 0, 4);
  tw::SetMessageBoxFunction(nullptr);
  EXPECT_EQ(g_systemBoxes, 1);
  tw::RecordArrayErase(4);
}

// ---- The pool ----

TEST(Pool, RegisterAllocateAndRelease) {
  const std::int64_t live = LiveBlocks();
  const int pooled = tw::PooledBlockCount();
  void* block = tw::HeapBlockAllocate(32, 0);
  EXPECT_EQ(tw::BlockRegister(block), block);
  void* zeroed = tw::BlockAllocate(64, HEAP_ZERO_MEMORY);
  EXPECT_EQ(std::memcmp(zeroed, std::string(64, '\0').data(), 64), 0);
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 2);
  static char foreign[8];
  tw::BlockRelease(foreign);  // not registered: left alone
  tw::BlockRelease(std::uintptr_t{0});
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 2);
  tw::BlockRelease(block);
  tw::BlockRelease(block);  // no longer registered: nothing happens
  tw::BlockRelease(zeroed);
  EXPECT_EQ(tw::PooledBlockCount(), pooled);
  EXPECT_EQ(LiveBlocks(), live);
}

TEST(Pool, FreeEntriesAreFoundInOrderAndTheStopWordStays) {
  std::vector<void*> blocks;
  const int pooled = tw::PooledBlockCount();
  for (int i = pooled; i < tw::TwHeapStrings; ++i) blocks.push_back(tw::BlockAllocate(8, 0));
  EXPECT_EQ(tw::PooledBlockCount(), tw::TwHeapStrings);
  EXPECT_EQ(tw::PoolEntries()[tw::TwHeapStrings], 0u) << "the stop word";
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    void*& chosen = blocks[random() % blocks.size()];
    int entry = 0;
    while (tw::PoolEntries()[entry] != reinterpret_cast<std::uintptr_t>(chosen)) ++entry;
    tw::BlockRelease(chosen);
    chosen = tw::BlockAllocate(8, 0);
    EXPECT_EQ(tw::PoolEntries()[entry], reinterpret_cast<std::uintptr_t>(chosen))
        << "the first free entry is taken";
  }
  for (void* block : blocks) tw::BlockRelease(block);
  EXPECT_EQ(tw::PooledBlockCount(), pooled);
}

// BlockRegister keeps the caller's xmm0 and xmm1: the driver loads them, calls
// the routine at machine level and reads them back right after it returns.
TEST(Pool, RegisterKeepsTheCallersVectorRegisters) {
  const int pooled = tw::PooledBlockCount();
  std::vector<void*> blocks;
  for (int i = 0; i < 40; ++i) {  // the scan runs over more and more entries
    void* block = tw::HeapBlockAllocate(8, 0);
    blocks.push_back(block);
    std::uint64_t in[8], out[8];
    for (int n = 0; n < 8; ++n)
      in[n] = 0x0123456789ABCDEFull * static_cast<std::uint64_t>(n + 1 + i);
    const std::uintptr_t args[4] = {reinterpret_cast<std::uintptr_t>(block), 0, 0, 0};
    const std::uint64_t result =
        tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::BlockRegister), args, in, out);
    EXPECT_EQ(static_cast<std::uintptr_t>(result), reinterpret_cast<std::uintptr_t>(block));
    EXPECT_EQ(out[0], in[0]) << "xmm0";
    EXPECT_EQ(out[1], in[1]) << "xmm1";
  }
  EXPECT_EQ(tw::PooledBlockCount(), pooled + 40);
  for (void* block : blocks) tw::BlockRelease(block);
}

TEST(Pool, PersistentCopiesArePooledBlocks) {
  tw::TextTrim(tw::Arg(" copy "), tw::kTrimBoth);
  for (int i = 0; i < 7; ++i) tw::ResultPersist();
  const int pooled = tw::PooledBlockCount();
  const std::int64_t live = LiveBlocks();
  for (int i = 0; i < 20; ++i) EXPECT_STREQ(tw::ResultPersist(), "copy");
  EXPECT_EQ(tw::PooledBlockCount(), pooled) << "each new copy releases the eighth-last";
  EXPECT_EQ(LiveBlocks(), live);
}

}  // namespace
