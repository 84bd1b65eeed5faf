// sortlines: sorts the lines of a text file case-insensitively (Recall,
// StringArraySort, Store) and writes them with CR LF line ends to a file or
// the console, whole lines or by one tab- or comma-separated field.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "examples/load_lines.h"
#include "support/arrays.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/recall.h"
#include "support/sort.h"

namespace {

constexpr int kLines = 1;   // the file's lines
constexpr int kKeys = 2;    // the sort keys (fields) when sorting by a field
constexpr int kOutput = 3;  // the lines in their new order
constexpr int kConsoleSlot = 1;

const char kUsage[] =
    "Usage: sortlines [--reverse] [--fields N] [--output FILE] [--] [FILE]\n"
    "Sorts the lines of FILE (standard input when FILE is - or missing)\n"
    "case-insensitively (letters A to Z read as a to z, other bytes by value) and\n"
    "writes them with CR LF line ends.\n"
    "FILE may use CR LF or LF line ends (as its first line end shows), or be UTF-16\n"
    "with a byte-order mark (written out as UTF-8).\n"
    "  --reverse      sort in descending order\n"
    "  --fields N     sort by field N (1 = first) of tab-separated lines, or of\n"
    "                 comma-separated lines when the first line has no tab; lines\n"
    "                 with equal fields keep their order\n"
    "  --output FILE  write to FILE (replaced when the sorted text is complete)\n"
    "                 instead of the console\n"
    "  --help         show this text\n";

struct Options {
  bool reverse = false;
  int field = 0;  // 0: whole lines
  const char* output = nullptr;
  const char* input = nullptr;
};

int Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "sortlines: %s%s\n", message, detail);
  return 2;
}

// Returns -1 when the arguments are fine, else the exit code.
int ParseArguments(int argc, char** argv, Options* options) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const bool option = !optionsEnd && argument[0] == '-' && argument[1] != '\0';
    if (option && std::strcmp(argument, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option && std::strcmp(argument, "--") == 0) {
      optionsEnd = true;
    } else if (option && std::strcmp(argument, "--reverse") == 0) {
      options->reverse = true;
    } else if (option && std::strcmp(argument, "--fields") == 0) {
      if (i + 1 == argc) return Fail("--fields needs a field number", "");
      char* end = nullptr;
      const long field = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || field < 1 || field > 256) return Fail("bad field number ", argv[i]);
      options->field = static_cast<int>(field);
    } else if (option && std::strcmp(argument, "--output") == 0) {
      if (i + 1 == argc) return Fail("--output needs a file name", "");
      options->output = argv[++i];
    } else if (option) {
      return Fail("unknown option ", argument);
    } else if (options->input != nullptr) {
      return Fail("more than one input file: ", argument);
    } else {
      options->input = argument;
    }
  }
  if (options->input == nullptr) options->input = "-";
  return -1;
}

// A UTF-8 byte-order mark at the start of the first line stays at the top:
// it is taken off the line and written before the sorted lines.
bool TakeByteOrderMark(tw::ArrayHeader* lines) {
  if (lines->count == 0) return false;
  tw::ArrayElementEntry& first = tw::ArrayElements(lines)[0];
  const char* text = reinterpret_cast<const char*>(first.address);
  if (first.length > -3 || std::memcmp(text, "\xEF\xBB\xBF", 3) != 0) return false;
  first.address += 3;
  first.length += 3;
  return true;
}

// Sort keys for a field sort: element i of kKeys borrows, from one block,
// line i's field, the byte 1 and line i's number as eight hexadecimal digits,
// then a zero. The byte 1 sorts below every byte a field holds, so a shorter
// field still sorts first, and equal fields sort by their line numbers: lines
// with equal keys keep their order. The number also finds the line again.
constexpr std::size_t kKeyTail = 9;  // the byte 1 and eight digits

tw::FieldSpan FieldOf(const tw::ArrayElementEntry& line, std::int32_t shape, int field) {
  tw::FieldSpan span = {nullptr, 0};
  const char* text = reinterpret_cast<const char*>(line.address);
  const std::int32_t length = line.length < 0 ? -line.length : line.length;
  if (text == nullptr || !tw::SelectField(text, length, shape, field - 1, &span)) span = {text, 0};
  return span;
}

// In a descending sort the numbers are complemented, so that equal fields
// still come in their lines' order.
char* MakeFieldKeys(std::int32_t count, int field, bool reverse) {
  tw::ArrayHeader* lines = tw::ArrayHeaderOf(kLines);
  const tw::ArrayElementEntry* entries = tw::ArrayElements(lines);
  std::size_t bytes = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    bytes +=
        static_cast<std::size_t>(FieldOf(entries[i], lines->shape, field).length) + kKeyTail + 1;
  }
  auto* block = static_cast<char*>(tw::HeapBlockAllocate(bytes, 0));
  tw::ArrayHeader* keys = tw::ArrayCreate(kKeys, static_cast<std::uint32_t>(count) - 1);
  entries = tw::ArrayElements(tw::ArrayHeaderOf(kLines));  // the header may have moved
  static const char kDigits[] = "0123456789abcdef";
  char* at = block;
  for (std::int32_t i = 0; i < count; ++i) {
    const tw::FieldSpan span = FieldOf(entries[i], tw::ArrayHeaderOf(kLines)->shape, field);
    char* const key = at;
    std::memcpy(at, span.start, static_cast<std::size_t>(span.length));
    at += span.length;
    *at++ = '\1';
    const std::uint32_t number =
        reverse ? ~static_cast<std::uint32_t>(i) : static_cast<std::uint32_t>(i);
    for (int shift = 28; shift >= 0; shift -= 4) *at++ = kDigits[(number >> shift) & 0xF];
    *at++ = '\0';
    // A borrowed key: the block is released once, after the sort.
    tw::ArrayElements(keys)[i] = {reinterpret_cast<std::uintptr_t>(key),
                                  -static_cast<std::int32_t>(at - 1 - key)};
  }
  return block;
}

// The line number at the end of a key.
std::int32_t LineOfKey(const tw::ArrayElementEntry& key, bool reverse) {
  const char* digits = reinterpret_cast<const char*>(key.address) - key.length - 8;
  std::uint32_t number = 0;
  for (int k = 0; k < 8; ++k) {
    const char c = digits[k];
    number = number * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return static_cast<std::int32_t>(reverse ? ~number : number);
}

// Array kOutput borrows the lines in the order of the sorted keys.
void OrderLinesByKeys(std::int32_t count, bool reverse) {
  tw::ArrayHeader* output = tw::ArrayCreate(kOutput, static_cast<std::uint32_t>(count) - 1);
  tw::ArrayElementEntry* keys = tw::ArrayElements(tw::ArrayHeaderOf(kKeys));
  tw::ArrayElementEntry* lines = tw::ArrayElements(tw::ArrayHeaderOf(kLines));
  for (std::int32_t i = 0; i < count; ++i) {
    // A borrowed entry: the text stays in the lines' text block.
    tw::ArrayElementEntry entry = lines[LineOfKey(keys[i], reverse)];
    if (entry.length > 0) entry.length = -entry.length;
    tw::ArrayElements(output)[i] = entry;
  }
}

// Writes the mark (when there was one) and the lines of array number.
void WriteLines(const Options& options, int number, std::int32_t count, bool mark) {
  if (options.output != nullptr) {
    if (!mark) {
      tw::Store(tw::StoreName(options.output), number, count);
      return;
    }
    // The mark goes in front of the first line's text.
    tw::ArrayElementEntry& first = tw::ArrayElements(tw::ArrayHeaderOf(number))[0];
    const tw::ArrayElementEntry kept = first;
    const std::size_t length =
        static_cast<std::size_t>(kept.length < 0 ? -kept.length : kept.length);
    auto* text = static_cast<char*>(tw::HeapBlockAllocate(length + 4, 0));
    std::memcpy(text, "\xEF\xBB\xBF", 3);
    std::memcpy(text + 3, reinterpret_cast<const char*>(kept.address), length);
    text[length + 3] = '\0';
    first = {reinterpret_cast<std::uintptr_t>(text), static_cast<std::int32_t>(length + 3)};
    tw::Store(tw::StoreName(options.output), number, count);
    tw::HeapBlockRelease(text);
    first = kept;
    return;
  }
  std::fflush(stdout);
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (mark) {
    DWORD written = 0;
    WriteFile(console, "\xEF\xBB\xBF", 3, &written, nullptr);
  }
  tw::SetFileSlotHandle(kConsoleSlot, console);
  tw::Store(kConsoleSlot, number, count);
  tw::SetFileSlotHandle(kConsoleSlot, nullptr);  // the console stays open
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseArguments(argc, argv, &options);
  if (parsed >= 0) return parsed;
  if (const char* problem = examples::InputProblem(options.input)) {
    std::fprintf(stderr, "sortlines: cannot read %s: %s\n", options.input, problem);
    return 2;
  }
  examples::ReportFailuresAs("sortlines");
  static char doing[600];
  std::snprintf(doing, sizeof doing, "cannot read %s", examples::InputName(options.input));
  examples::Doing(doing);

  const tw::RecallResult loaded = examples::LoadLines(options.input, kLines);
  const std::int32_t count = loaded.lines;
  const bool mark = TakeByteOrderMark(tw::ArrayHeaderOf(kLines));
  int sorted = kLines;
  char* keyBlock = nullptr;
  if (options.field > 0 && count > 0) {
    // Tab fields, or comma fields when the first line has no tab.
    tw::ArrayHeader* lines = tw::ArrayHeaderOf(kLines);
    const char* first = reinterpret_cast<const char*>(tw::ArrayElements(lines)[0].address);
    lines->shape =
        std::strchr(first, '\t') != nullptr ? tw::kShapeTabFields : tw::kShapeCommaFields;
    keyBlock = MakeFieldKeys(count, options.field, options.reverse);
    tw::StringArraySort(options.reverse ? -kKeys : kKeys, count);
    OrderLinesByKeys(count, options.reverse);
    tw::ArrayErase(kKeys);
    tw::HeapBlockRelease(keyBlock);
    sorted = kOutput;
  } else {
    tw::StringArraySort(options.reverse ? -kLines : kLines, count);
  }
  std::snprintf(doing, sizeof doing, "cannot write %s",
                options.output != nullptr ? options.output : "the output");
  WriteLines(options, sorted, count, mark);
  tw::ArrayErase(tw::kEveryArray);
  return 0;
}
