// Fuzz target of Recall's line splitter: any bytes (zero bytes, CR, LF and
// the UTF-16 mark included) loaded into a buffer and split, compared with a
// reference split written from the stated rules; and the same text up to its
// first zero, against an unreadable page, loaded by Recall from memory with
// any options, its lines checked and fields selected from them.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/arrays.h"
#include "support/heap.h"
#include "support/recall.h"
#include "tools/references.h"

namespace {

using tw_test::Lines;
using tw_test::ReferenceLines;
using tw_test::ReferenceUtf8;

// The pieces of a load on a buffer of any bytes.
void SplitBuffer(const std::string& bytes, bool askLineFeeds) {
  std::string text = bytes;
  if (tw::IsUtf16Text(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
    text = ReferenceUtf8(bytes);
    const std::uint64_t size =
        tw::Utf8SizeOfUtf16(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    TW_FUZZ_CHECK(size == text.size(), "UTF-8 size of " + tw_fuzz::Escaped(bytes));
  }
  const auto size = static_cast<std::uint32_t>(text.size());
  const tw::LoadBuffer buffer = tw::LoadBufferAllocate(size);
  TW_FUZZ_CHECK(reinterpret_cast<std::uintptr_t>(buffer.text) % 16 == 0, "aligned text");
  if (tw::IsUtf16Text(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
    char* end =
        tw::Utf16ToUtf8(bytes.data(), static_cast<std::uint32_t>(bytes.size()), buffer.text);
    TW_FUZZ_CHECK(std::string(buffer.text, static_cast<std::size_t>(end - buffer.text)) == text,
                  "UTF-8 of " + tw_fuzz::Escaped(bytes));
  } else {
    std::memcpy(buffer.text, text.data(), size);
  }
  std::memset(buffer.text + size, 0, tw::kLoadPadding);
  const bool lineFeeds = askLineFeeds || tw::LoadPicksLineFeeds(buffer.text, size);
  const std::uint32_t count = tw::CountLines(buffer.text, size, lineFeeds);
  std::vector<tw::ArrayElementEntry> elements(count + 1);
  const std::uint32_t split = tw::SplitLines(buffer.text, size, lineFeeds, elements.data());
  const Lines expected = ReferenceLines(text, askLineFeeds);
  const std::string what = tw_fuzz::Escaped(text);
  TW_FUZZ_CHECK(split == count && count == expected.size(), what);
  for (std::uint32_t i = 0; i < count; ++i) {
    const char* line = reinterpret_cast<const char*>(elements[i].address);
    const std::string got(line, static_cast<std::size_t>(-elements[i].length));
    TW_FUZZ_CHECK(got == expected[i], what + " line " + std::to_string(i));
    TW_FUZZ_CHECK(line[-elements[i].length] == '\0',
                  what + " zero after line " + std::to_string(i));
  }
  tw::HeapBlockRelease(buffer.block);
}

constexpr int kArray = 1;

// Recall from a text in memory, and fields of its lines.
void RecallFromMemory(tw_fuzz::Input& in, const std::string& text) {
  const std::string upToZero = text.substr(0, text.find('\0'));
  const char* guarded = tw_fuzz::GuardedText(0, upToZero);
  std::int32_t countVariable = -1;
  const std::intptr_t choices[] = {tw::kRecallDefault,
                                   tw::kRecallLineFeeds,
                                   tw::kShapeTabFields,
                                   tw::kShapeCommaFields,
                                   -1000,
                                   7,
                                   tw::RecallCountTo(&countVariable)};
  const std::intptr_t options = choices[in.Below(7)];
  const tw::RecallResult result =
      tw::Recall(tw::kRecallText, kArray, reinterpret_cast<std::uintptr_t>(guarded), options);
  const std::string loaded =
      tw::IsUtf16Text(upToZero.data(), static_cast<std::uint32_t>(upToZero.size()))
          ? ReferenceUtf8(upToZero)
          : upToZero;
  const Lines expected = ReferenceLines(loaded, options == tw::kRecallLineFeeds);
  const std::string what = "Recall of " + tw_fuzz::Escaped(upToZero);
  TW_FUZZ_CHECK(result.lines == static_cast<std::int32_t>(expected.size()), what);
  TW_FUZZ_CHECK(result.bytes == static_cast<std::int32_t>(loaded.size()), what);
  if (options > 127) TW_FUZZ_CHECK(countVariable == result.lines, what);
  tw::ArrayHeader* header = tw::ArrayHeaderOf(kArray);
  TW_FUZZ_CHECK(header != nullptr && header->count == result.lines, what);
  for (std::int32_t i = 0; i < header->count; ++i) {
    const tw::ArrayElementEntry& e = tw::ArrayElements(header)[i];
    TW_FUZZ_CHECK(std::string(reinterpret_cast<const char*>(e.address),
                              static_cast<std::size_t>(-e.length)) == expected[i],
                  what + " line " + std::to_string(i));
  }
  // Fields of some lines: within their element, never longer than it.
  for (int pick = 0; pick < 4 && header->count > 0 && header->shape <= tw::kShapeTabFields;
       ++pick) {
    const std::uint32_t index = in.Below(static_cast<std::uint32_t>(header->count));
    const std::uint32_t field = in.Below(6);
    const tw::ElementText got = tw::ArrayElement(kArray, tw::TwoPartIndex(index, field));
    const std::int32_t length = got.length < 0 ? -got.length : got.length;
    TW_FUZZ_CHECK(length <= -tw::ArrayElements(header)[index].length, what + " field length");
  }
  tw::ArrayErase(kArray);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  tw_fuzz::Input in(data, size);
  const std::uint8_t flags = in.Byte();
  std::string text = in.Text(3000);
  if ((flags & 1) != 0) text.insert(0, "\xFF\xFE");  // UTF-16 more often
  SplitBuffer(text, (flags & 2) != 0);
  RecallFromMemory(in, text);
  return 0;
}
