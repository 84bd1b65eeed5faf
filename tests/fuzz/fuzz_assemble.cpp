// Fuzz target of TextAssemble: random sequences of temporary results (plain
// texts, deferred zero buffers and case conversions) and assemblies of up to
// 29 random items (texts against unreadable pages, UTF-16 texts, every table
// code, 127) into a caller's buffer, the temporary text area (a window
// destination without a window), a new pooled block or an array element,
// through the typed and the machine-level form. Each assembled text is
// compared with a reference built from a mirror of the result ring.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compat/win32.h"
#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/arrays.h"
#include "support/assemble.h"
#include "support/errors.h"
#include "support/strings.h"
#include "support/temptext.h"

namespace {

constexpr int kSlots = tw::kResultSlotCount;
constexpr std::size_t kLongestExpected = 20000;  // keeps one input well inside the area
constexpr int kArray = 1;
constexpr int kElements = 4;

// What each ring slot's result produces, by slot number (1 to 15), and
// whether it is a deferred zero buffer. Such a result counts one byte more
// than it produces (its recorded length): an item of 127 gets that byte as a
// zero; a table code reads the produced text, and the record stays deferred.
std::string g_ring[kSlots + 1];
bool g_zeroBuffer[kSlots + 1];
int g_viewOf[kSlots + 1];  // the element whose text a slot views (ArrayElement), else -1
std::string g_elements[kElements];

void Remember(const std::string& text) {
  g_ring[tw::CurrentResultSlot()] = text;
  g_zeroBuffer[tw::CurrentResultSlot()] = false;
  g_viewOf[tw::CurrentResultSlot()] = -1;
}

// An element read with ArrayElement: the slot views its text.
void RememberElement(int element) {
  Remember(g_elements[element]);
  g_viewOf[tw::CurrentResultSlot()] = element;
}

// The element's old text is released: the results that viewed it become the
// empty text (only an owned text, one of some length, is released).
void ForgetViewsOf(int element) {
  if (g_elements[element].empty()) return;
  for (int n = 1; n <= kSlots; ++n) {
    if (g_viewOf[n] != element) continue;
    g_ring[n].clear();
    g_viewOf[n] = -1;
  }
}

// Set TW_FUZZ_TRACE to follow the steps of an input on standard error.
bool Tracing() {
  static const bool tracing = std::getenv("TW_FUZZ_TRACE") != nullptr;
  return tracing;
}

// The zero-buffer marks as an assembly's length pass sees them. Kept apart
// until the assembly runs (Commit); no item changes them, since an assembly
// carries no record out into the area.
struct ZeroMarks {
  bool zero[kSlots + 1];
};

std::string AsNewest(ZeroMarks& marks, int slot) {
  if (Tracing()) {
    std::fprintf(stderr, "  127 -> slot %d: %zu bytes%s\n", slot, g_ring[slot].size(),
                 marks.zero[slot] ? " + 1 (zero buffer)" : "");
  }
  return marks.zero[slot] ? g_ring[slot] + '\0' : g_ring[slot];
}

// A table code reads the produced text (a zero buffer's size in zeros); the
// record stays in its slot.
std::string AsCode(ZeroMarks&, int slot) {
  return g_ring[slot];
}

// Slot steps back from the current one.
int SlotBack(int steps) {
  const int current = tw::CurrentResultSlot();
  return (current - 1 - steps % kSlots + kSlots) % kSlots + 1;
}

void MakePlain(const std::string& text) {
  char* at = tw::TempTextReserve(static_cast<std::uint32_t>(text.size()) + 1);
  std::memcpy(at, text.data(), text.size());
  at[text.size()] = '\0';
  tw::TempTextEnd(at + text.size(), tw::kSlotNext);
  Remember(text);
}

// A new temporary result of a random kind.
void MakeResult(tw_fuzz::Input& in) {
  switch (in.Byte() % 3) {
    case 0:
      MakePlain(in.Text(300));
      break;
    case 1: {
      const std::int32_t size = 1 + in.Byte() % 64;
      tw::NewZeroText(size);
      Remember(std::string(static_cast<std::size_t>(size), '\0'));
      g_zeroBuffer[tw::CurrentResultSlot()] = true;
      break;
    }
    default: {
      // The source is a temporary text of its own, which the record refers to
      // (TextCase of 127 takes its place in the ring).
      std::string source = tw_fuzz::UpToZero(in.Text(200));
      for (char& c : source) c = static_cast<char>((c & 0x7F) == 0 ? 'q' : c & 0x7F);
      const bool upper = (in.Byte() & 1) != 0;
      MakePlain(source);
      tw::TextCase(tw::kNewestResult, upper ? tw::kCaseUpper : 0);
      Remember(tw_fuzz::CaseReference(source, upper));
      break;
    }
  }
}

std::string PredefinedReference(tw::StringArg code) {
  const tw::TextPair pair = tw::PredefinedText(static_cast<int>(code));
  if (pair.address == 0) return std::string();
  return std::string(reinterpret_cast<const char*>(pair.address),
                     static_cast<std::size_t>(pair.length));
}

struct Items {
  std::vector<tw::StringArg> items;
  std::string expected;
  ZeroMarks marks;  // the marks after the length pass
};

// The assembly ran.
void Commit(const Items& items) {
  for (int n = 1; n <= kSlots; ++n) g_zeroBuffer[n] = items.marks.zero[n];
}

// Random items and the text they make. Items of 127 are counted first, so
// that the reference knows which results they take.
Items MakeItems(tw_fuzz::Input& in, bool wide) {
  const int count = 1 + static_cast<int>(in.Below(29));
  std::vector<int> kinds(static_cast<std::size_t>(count));
  int newest = 0;
  for (int& kind : kinds) {
    kind = in.Byte() % 4;
    if (kind == 2) ++newest;
  }
  // Up to two texts against unreadable pages (byte or UTF-16 ones).
  std::string texts[2];
  const void* addresses[2];
  for (int t = 0; t < 2; ++t) {
    if (wide) {
      const std::string bytes = in.Text(400);
      std::u16string units;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == 0) break;
        units.push_back(unit);
      }
      addresses[t] = tw_fuzz::GuardedWideText(t, units);
      texts[t] = std::string(reinterpret_cast<const char*>(units.data()), 2 * units.size());
    } else {
      texts[t] = tw_fuzz::UpToZero(in.Text(400));
      addresses[t] = tw_fuzz::GuardedText(t, texts[t]);
    }
  }
  Items out;
  for (int n = 1; n <= kSlots; ++n) out.marks.zero[n] = g_zeroBuffer[n];
  int taken = 0;
  for (int kind : kinds) {
    if (kind <= 1) {
      out.items.push_back(tw::Arg(addresses[kind]));
      out.expected += texts[kind];
    } else if (kind == 2) {
      out.items.push_back(tw::kNewestResult);
      out.expected += AsNewest(out.marks, SlotBack(newest - 1 - taken));
      ++taken;
    } else {
      const tw::StringArg code = in.Below(127);
      out.items.push_back(code);
      if (code < 8) {
        out.expected += PredefinedReference(code);
      } else if (code >= tw::kFirstResultCode && code < tw::kFirstResultCode + kSlots) {
        out.expected += AsCode(out.marks, static_cast<int>(code - tw::kFirstResultCode + 1));
      }
      // every other code (120 to 126 among them) is the empty text
    }
  }
  return out;
}

std::uintptr_t Assemble(tw_fuzz::Input& in, std::uint32_t control, const Items& items,
                        std::uintptr_t oldBlock) {
  const int count = static_cast<int>(items.items.size());
  if ((in.Byte() & 1) == 0) {
    return tw::TextAssembleList(control, items.items.data(), count, oldBlock);
  }
  std::uintptr_t words[32] = {control | tw::AssembleCount(count)};
  for (int i = 0; i < count; ++i) words[count - i] = items.items[static_cast<std::size_t>(i)];
  words[count + 1] = oldBlock;
  return tw::TextAssembleWords(words);
}

// The items, for a finding: addresses as "@", codes as their number.
std::string Describe(const Items& items) {
  std::string out = "items";
  for (tw::StringArg item : items.items) {
    out += item > tw::kNewestResult ? std::string(" @") : " " + std::to_string(item);
  }
  return out;
}

void Expect(const std::string& got, const std::string& expected, const char* what,
            const Items& items) {
  if (got == expected) return;
  tw_fuzz::Finding(what, Describe(items) + ": got " + tw_fuzz::Escaped(got) + ", expected " +
                             tw_fuzz::Escaped(expected));
}

void ToTemporaryArea(tw_fuzz::Input& in) {
  const bool wide = (in.Byte() & 1) != 0;
  const Items items = MakeItems(in, wide);
  if (items.expected.size() > kLongestExpected) return;
  const std::uintptr_t result =
      Assemble(in, wide ? tw::kAssembleToWindowWide : tw::kAssembleToWindow, items, 0);
  Commit(items);
  TW_FUZZ_CHECK(result != 0, "a short text went through a heap block: " + Describe(items) +
                                 " position " +
                                 std::to_string(tw::TempTextBegin() - tw::TempTextArea()));
  const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
  Expect(std::string(newest.text, static_cast<std::size_t>(newest.length)), items.expected,
         "the newest result after an assembly", items);
  TW_FUZZ_CHECK(result == reinterpret_cast<std::uintptr_t>(newest.text), "result address");
  TW_FUZZ_CHECK(newest.text[newest.length] == '\0' && newest.text[newest.length + 1] == '\0',
                "two zero bytes after the text");
  Remember(items.expected);
}

char g_buffer[kLongestExpected + 64];

// Results that name the buffer produce what it holds now.
void RefreshBufferResults() {
  for (int n = 1; n <= kSlots; ++n) {
    const tw::ResultSlotRecord* slot = tw::ResultSlotAt(n);
    if (slot->address != reinterpret_cast<std::uintptr_t>(g_buffer)) continue;
    const std::int32_t length = slot->length < 0 ? -slot->length : slot->length;
    g_ring[n] = std::string(g_buffer, static_cast<std::size_t>(length));
    g_zeroBuffer[n] = false;
  }
}

void ToBuffer(tw_fuzz::Input& in) {
  char* const buffer = g_buffer;
  const std::int32_t capacity = static_cast<std::int32_t>(in.Below(kLongestExpected + 1));
  std::memset(buffer, '#', sizeof g_buffer);
  RefreshBufferResults();
  tw::BufferResult(buffer, capacity);
  Remember(std::string(buffer, static_cast<std::size_t>(capacity)));
  // The buffer must be the result just before those the items take: make
  // the items' results after it.
  const int made = in.Byte() % 4;
  for (int i = 0; i < made; ++i) MakeResult(in);
  Items items = MakeItems(in, false);
  int newest = 0;
  for (tw::StringArg item : items.items) newest += item == tw::kNewestResult ? 1 : 0;
  if (newest != made || items.expected.size() > kLongestExpected) return;
  Assemble(in, tw::kAssembleToBuffer, items, 0);
  Commit(items);
  const std::size_t copied = std::min(items.expected.size(), static_cast<std::size_t>(capacity));
  Expect(std::string(buffer, copied), items.expected.substr(0, copied), "the buffer", items);
  for (std::size_t i = copied; i < sizeof g_buffer; ++i) {
    TW_FUZZ_CHECK(buffer[i] == '#', "a byte past the copied text changed at " + std::to_string(i));
  }
  Remember(items.expected);
  RefreshBufferResults();
}

void ToNewBlock(tw_fuzz::Input& in) {
  Items items = MakeItems(in, false);
  if (items.items.size() > 28 || items.expected.size() > kLongestExpected) return;
  const int pooled = tw::PooledBlockCount();
  const std::uintptr_t block = Assemble(in, tw::kAssembleToNewBlock, items, 0);
  Commit(items);
  TW_FUZZ_CHECK(tw::PooledBlockCount() == pooled + 1, "one more pooled block");
  Expect(std::string(reinterpret_cast<const char*>(block), items.expected.size()), items.expected,
         "the pooled block", items);
  TW_FUZZ_CHECK(reinterpret_cast<const char*>(block)[items.expected.size()] == '\0',
                "a zero after the block's text");
  tw::BlockRelease(block);
}

void ToElement(tw_fuzz::Input& in) {
  const int target = in.Byte() % kElements;
  tw::ArrayElement(kArray, static_cast<std::uint32_t>(target));
  RememberElement(target);
  const int made = in.Byte() % 3;
  for (int i = 0; i < made; ++i) {
    const int source = in.Byte() % kElements;
    tw::ArrayElement(kArray, static_cast<std::uint32_t>(source));
    RememberElement(source);
  }
  Items items = MakeItems(in, false);
  int newest = 0;
  for (tw::StringArg item : items.items) newest += item == tw::kNewestResult ? 1 : 0;
  if (newest != made || items.expected.size() > kLongestExpected) return;
  Assemble(in, tw::kAssembleToElement, items, 0);
  Commit(items);
  const tw::ArrayElementEntry& entry = tw::ArrayElements(tw::ArrayHeaderOf(kArray))[target];
  TW_FUZZ_CHECK(entry.length == static_cast<std::int32_t>(items.expected.size()),
                "element length " + std::to_string(entry.length));
  Expect(std::string(reinterpret_cast<const char*>(entry.address), items.expected.size()),
         items.expected, "the element", items);
  ForgetViewsOf(target);
  g_elements[target] = items.expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  // A known ring and array: fifteen empty results, an array of empty elements.
  for (int i = 0; i < kSlots; ++i) MakePlain("");
  tw::ArrayCreate(kArray, kElements - 1);
  for (std::string& element : g_elements) element.clear();
  tw_fuzz::Input in(data, size);
  for (int step = 0; step < 8 && !in.Empty(); ++step) {
    const int kind = in.Byte() % 5;
    if (Tracing())
      std::fprintf(stderr, "step %d: kind %d, slot %d\n", step, kind, tw::CurrentResultSlot());
    switch (kind) {
      case 0:
        MakeResult(in);
        break;
      case 1:
        ToTemporaryArea(in);
        break;
      case 2:
        ToBuffer(in);
        break;
      case 3:
        ToNewBlock(in);
        break;
      default:
        ToElement(in);
        break;
    }
  }
  tw::ArrayErase(kArray);
  return 0;
}
