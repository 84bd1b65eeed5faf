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

constexpr int kLines = 1;  // the file's lines
constexpr int kKeys = 2;   // the sort keys (fields) when sorting by a field, then the
                           // lines in their new order
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
// line i's field, the byte 1, where line i starts in the text block and its
// length (five base-128 digits each, bytes 128 to 255, which no folding
// changes), then a zero. The byte 1 sorts below every byte a field holds, so a
// shorter field still sorts first, and equal fields sort by where their lines
// start: lines with equal fields keep their order. (A descending sort gets the
// positions complemented, for the same reason.) The position and length find
// the line again after the sort, so the lines' own array can go before it.
constexpr int kDigits = 5;
constexpr std::size_t kKeyTail = 1 + 2 * kDigits;
constexpr std::uint64_t kPositions = std::uint64_t{1} << (7 * kDigits);

char* PutDigits(char* at, std::uint64_t value) {
  for (int k = kDigits - 1; k >= 0; --k)
    *at++ = static_cast<char>(0x80 | ((value >> (7 * k)) & 0x7F));
  return at;
}

std::uint64_t GetDigits(const char* at) {
  std::uint64_t value = 0;
  for (int k = 0; k < kDigits; ++k)
    value = (value << 7) | (static_cast<unsigned char>(at[k]) & 0x7F);
  return value;
}

tw::FieldSpan FieldOf(const tw::ArrayElementEntry& line, std::int32_t shape, int field) {
  tw::FieldSpan span = {nullptr, 0};
  const char* text = reinterpret_cast<const char*>(line.address);
  const std::int32_t length = line.length < 0 ? -line.length : line.length;
  if (text == nullptr || !tw::SelectField(text, length, shape, field - 1, &span)) span = {text, 0};
  return span;
}

// Makes the keys, then hands the lines' text block to the keys' array and
// erases the lines' array.
char* MakeFieldKeys(std::int32_t count, int field, bool reverse) {
  std::size_t bytes = 0;
  {
    tw::ArrayHeader* lines = tw::ArrayHeaderOf(kLines);
    const tw::ArrayElementEntry* entries = tw::ArrayElements(lines);
    for (std::int32_t i = 0; i < count; ++i) {
      bytes +=
          static_cast<std::size_t>(FieldOf(entries[i], lines->shape, field).length) + kKeyTail + 1;
    }
  }
  auto* block = static_cast<char*>(tw::HeapBlockAllocate(bytes, 0));
  tw::ArrayHeader* keys = tw::ArrayCreate(kKeys, static_cast<std::uint32_t>(count) - 1);
  tw::ArrayHeader* lines = tw::ArrayHeaderOf(kLines);
  const tw::ArrayElementEntry* entries = tw::ArrayElements(lines);
  const char* const text = tw::TextBlockStart(lines->textBlock);
  char* at = block;
  for (std::int32_t i = 0; i < count; ++i) {
    const tw::FieldSpan span = FieldOf(entries[i], lines->shape, field);
    char* const key = at;
    std::memcpy(at, span.start, static_cast<std::size_t>(span.length));
    at += span.length;
    *at++ = '\1';
    const std::uint64_t start =
        static_cast<std::uint64_t>(reinterpret_cast<const char*>(entries[i].address) - text);
    at = PutDigits(at, reverse ? kPositions - 1 - start : start);
    at = PutDigits(at, static_cast<std::uint64_t>(-entries[i].length));
    *at++ = '\0';
    // A borrowed key: the block is released once, after the sort.
    tw::ArrayElements(keys)[i] = {reinterpret_cast<std::uintptr_t>(key),
                                  -static_cast<std::int32_t>(at - 1 - key)};
  }
  keys->textBlock = lines->textBlock;
  lines->textBlock = 0;
  tw::ArrayErase(kLines);
  return block;
}

// The keys' array becomes the output: entry i takes (borrows) the line its
// key names, in the text block it now holds.
void OrderLinesByKeys(std::int32_t count, bool reverse) {
  tw::ArrayHeader* header = tw::ArrayHeaderOf(kKeys);
  tw::ArrayElementEntry* keys = tw::ArrayElements(header);
  char* const text = tw::TextBlockStart(header->textBlock);
  for (std::int32_t i = 0; i < count; ++i) {
    const char* tail =
        reinterpret_cast<const char*>(keys[i].address) - keys[i].length - 2 * kDigits;
    const std::uint64_t position = GetDigits(tail);
    const std::uint64_t start = reverse ? kPositions - 1 - position : position;
    const auto length = static_cast<std::int32_t>(GetDigits(tail + kDigits));
    keys[i] = {reinterpret_cast<std::uintptr_t>(text + start), -length};
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
    tw::HeapBlockRelease(keyBlock);
    sorted = kKeys;
  } else {
    tw::StringArraySort(options.reverse ? -kLines : kLines, count);
  }
  std::snprintf(doing, sizeof doing, "cannot write %s",
                options.output != nullptr ? options.output : "the output");
  WriteLines(options, sorted, count, mark);
  tw::ArrayErase(tw::kEveryArray);
  return 0;
}
