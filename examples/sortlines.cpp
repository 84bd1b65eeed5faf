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
    "Usage: sortlines [--reverse] [--fields N] [--output FILE] FILE\n"
    "Sorts the lines of FILE case-insensitively (letters A to Z read as a to z,\n"
    "other bytes by value) and writes them with CR LF line ends.\n"
    "FILE may use CR LF or LF line ends, or be UTF-16 with a byte-order mark\n"
    "(written out as UTF-8).\n"
    "  --reverse      sort in descending order\n"
    "  --fields N     sort by field N (1 = first) of tab-separated lines, or of\n"
    "                 comma-separated lines when the first line has no tab\n"
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
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argument, "--reverse") == 0) {
      options->reverse = true;
    } else if (std::strcmp(argument, "--fields") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long field = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || field < 1 || field > 256) return Fail("bad field number ", argv[i]);
      options->field = static_cast<int>(field);
    } else if (std::strcmp(argument, "--output") == 0 && i + 1 < argc) {
      options->output = argv[++i];
    } else if (argument[0] == '-' && argument[1] != '\0') {
      return Fail("unknown option ", argument);
    } else if (options->input != nullptr) {
      return Fail("more than one input file: ", argument);
    } else {
      options->input = argument;
    }
  }
  if (options->input == nullptr) {
    std::fputs(kUsage, stderr);
    return 2;
  }
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

// Sort keys for a field sort: element i of kKeys holds a copy of line i's
// field, followed by its zero and the line number i, so that the line can be
// found again after the keys are sorted.
void MakeFieldKeys(std::int32_t count, int field) {
  tw::ArrayHeader* keys = tw::ArrayCreate(kKeys, static_cast<std::uint32_t>(count) - 1);
  for (std::int32_t i = 0; i < count; ++i) {
    const tw::ElementText text = tw::ArrayElement(
        kLines,
        tw::TwoPartIndex(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(field - 1)));
    const std::int32_t length = text.length < 0 ? -text.length : text.length;
    auto* copy = static_cast<char*>(tw::HeapBlockAllocate(std::size_t(length) + 1 + sizeof i, 0));
    std::memcpy(copy, text.text, static_cast<std::size_t>(length));
    copy[length] = '\0';
    std::memcpy(copy + length + 1, &i, sizeof i);
    // A positive length: the key owns its copy, released with the array.
    tw::ArrayElements(keys)[i] = {reinterpret_cast<std::uintptr_t>(copy), length + 1};
  }
}

// Array kOutput borrows the lines in the order of the sorted keys.
void OrderLinesByKeys(std::int32_t count) {
  tw::ArrayHeader* output = tw::ArrayCreate(kOutput, static_cast<std::uint32_t>(count) - 1);
  tw::ArrayElementEntry* keys = tw::ArrayElements(tw::ArrayHeaderOf(kKeys));
  tw::ArrayElementEntry* lines = tw::ArrayElements(tw::ArrayHeaderOf(kLines));
  for (std::int32_t i = 0; i < count; ++i) {
    const char* key = reinterpret_cast<const char*>(keys[i].address);
    std::int32_t line;
    std::memcpy(&line, key + keys[i].length, sizeof line);
    // A borrowed entry: the text stays in the lines' text block.
    tw::ArrayElementEntry entry = lines[line];
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
  if (tw::FileSize(options.input) < 0) return Fail("cannot read ", options.input);

  const tw::RecallResult loaded = examples::LoadLines(options.input, kLines);
  const std::int32_t count = loaded.lines;
  const bool mark = TakeByteOrderMark(tw::ArrayHeaderOf(kLines));
  int sorted = kLines;
  if (options.field > 0 && count > 0) {
    // Tab fields, or comma fields when the first line has no tab.
    tw::ArrayHeader* lines = tw::ArrayHeaderOf(kLines);
    const char* first = reinterpret_cast<const char*>(tw::ArrayElements(lines)[0].address);
    lines->shape =
        std::strchr(first, '\t') != nullptr ? tw::kShapeTabFields : tw::kShapeCommaFields;
    if (count > static_cast<std::int32_t>(tw::kFirstIndexMask)) {
      return Fail("too many lines for a field sort: ", options.input);
    }
    MakeFieldKeys(count, options.field);
    tw::StringArraySort(options.reverse ? -kKeys : kKeys, count);
    OrderLinesByKeys(count);
    sorted = kOutput;
  } else {
    tw::StringArraySort(options.reverse ? -kLines : kLines, count);
  }
  WriteLines(options, sorted, count, mark);
  tw::ArrayErase(tw::kEveryArray);
  return 0;
}
