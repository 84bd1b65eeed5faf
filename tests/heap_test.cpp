// Heap blocks: counters, the shared empty text, the release-failure box and
// its three answers, and the fatal allocation failure.
#include "support/heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tools/child.h"
#include "trace/msgbox.h"

namespace {

// Memory the heap never handed out, holding a text.
alignas(16) char g_foreign[64] = "block text";

void ReleaseForeignAndCancel() {
  tw::HeapBlockRelease(g_foreign);
}

void AllocateTooMuch() {
  // Larger than any address space: a 32-bit process on a 64-bit kernel can
  // get a 2 GiB block.
  tw::HeapBlockAllocate(SIZE_MAX - 64, 0);
}

const tw_test::Scenario kScenarios[] = {
    {"release-cancel", ReleaseForeignAndCancel},
    {"allocate-too-much", AllocateTooMuch},
};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 2);

std::string AddressDigits(const void* block) {
  static const char kDigits[] = "0123456789ABCDEF";
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block);
  std::string text;
  for (int shift = static_cast<int>(sizeof address * 8) - 4; shift >= 0; shift -= 4) {
    text += kDigits[(address >> shift) & 0xF];
  }
  return text;
}

TEST(HeapBlocks, CountersMatchAfterEqualAllocationsAndReleases) {
  const std::uint32_t allocations = tw::HeapAllocationCount();
  const std::uint32_t releases = tw::HeapReleaseCount();
  void* blocks[5];
  for (int i = 0; i < 5; ++i)
    blocks[i] = tw::HeapBlockAllocate(static_cast<std::size_t>(16 << i), 0);
  for (void* block : blocks) tw::HeapBlockRelease(block);
  EXPECT_EQ(tw::HeapAllocationCount() - allocations, 5u);
  EXPECT_EQ(tw::HeapReleaseCount() - releases, 5u);
}

TEST(HeapBlocks, ZeroFlagGivesZeroedBlocks) {
  unsigned char* block = static_cast<unsigned char*>(tw::HeapBlockAllocate(4096, HEAP_ZERO_MEMORY));
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  tw::HeapBlockRelease(block);
}

TEST(HeapBlocks, NullAndTheEmptyTextAreNotReleased) {
  const std::uint32_t releases = tw::HeapReleaseCount();
  tw::HeapBlockRelease(nullptr);
  tw::HeapBlockRelease(tw::g_emptyText);
  EXPECT_EQ(tw::HeapReleaseCount(), releases);
  EXPECT_STREQ(tw::g_emptyText, "");
}

int g_boxes = 0;
std::string g_text;
std::string g_caption;
UINT g_type = 0;
int g_answer = IDNO;

int RecordBox(const char* text, const char* caption, UINT type) {
  ++g_boxes;
  g_text = text;
  g_caption = caption;
  g_type = type;
  return g_answer;
}

TEST(HeapBlocks, RefusedReleaseAsksAndNoOrYesGoOn) {
  tw::SetMessageBoxFunction(RecordBox);
  for (int answer : {IDNO, IDYES}) {
    g_boxes = 0;
    g_answer = answer;
    const std::uint32_t releases = tw::HeapReleaseCount();
    tw::HeapBlockRelease(g_foreign);
    EXPECT_EQ(g_boxes, 1);
    EXPECT_EQ(g_text, AddressDigits(g_foreign));
    EXPECT_EQ(g_caption, "HeapFree error. INT3?");
    EXPECT_EQ(g_type, static_cast<UINT>(MB_YESNOCANCEL));
    EXPECT_EQ(tw::HeapReleaseCount(), releases + 1) << "the call reached the heap";
  }
  tw::SetMessageBoxFunction(nullptr);
  EXPECT_STREQ(g_foreign, "block text") << "the foreign memory is untouched";
}

TEST(HeapBlocks, RefusedReleaseWithCancelIsFatalErrorTwo) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("release-cancel", "cancel");
  EXPECT_EQ(child.exitCode, -2);
  const std::string box = "[message box] HeapFree error. INT3?\n";
  ASSERT_EQ(child.error.substr(0, box.size()), box) << child.error;
  const std::string tail =
      "[answer] cancel\n[message box] Fatal error:\nHeapFree\nblock text\n[answer] ok\n";
  ASSERT_GE(child.error.size(), tail.size());
  EXPECT_EQ(child.error.substr(child.error.size() - tail.size()), tail) << child.error;
}

TEST(HeapBlocks, FailedAllocationIsFatalErrorOne) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("allocate-too-much");
  EXPECT_EQ(child.exitCode, -1);
  // A sanitizer build may warn about the huge request first ("==pid==WARNING...").
  std::string box = child.error;
  while (box.rfind("==", 0) == 0) box.erase(0, box.find('\n') + 1);
  EXPECT_EQ(box, "[message box] Fatal error:\nHeapAlloc\n[answer] ok\n");
}

}  // namespace
