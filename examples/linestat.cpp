// linestat: counts the lines and bytes of a text file (or standard input),
// finds its longest line and, given a word, counts the lines that hold it as
// a whole word. The file is read in pieces through a file slot (FileReadSlot)
// and searched line by line (TextFind), so memory stays small whatever the
// file's size; a UTF-16 file is read whole and converted first.
#include <cstdio>
#include <cstring>
#include <vector>

#include "examples/load_lines.h"
#include "support/files.h"
#include "support/recall.h"
#include "support/search.h"

namespace {

const char kUsage[] =
    "Usage: linestat [--word WORD] [--ignore-case] [FILE]\n"
    "Prints the number of lines and bytes of FILE (standard input when FILE is -\n"
    "or missing), its longest line (bytes and line number) and, with --word, how\n"
    "many lines hold WORD as a whole word (the bytes around it are not letters:\n"
    "bytes of 64 or less, or the line's start or end). Lines end at CR LF when the\n"
    "first line ends so, else at every LF; a UTF-16 file with a byte-order mark is\n"
    "counted as its UTF-8 text.\n"
    "  --word WORD     count the lines that hold WORD\n"
    "  --ignore-case   compare WORD without regard to case\n"
    "  --help          show this text\n";

constexpr std::size_t kPiece = 1 << 20;  // bytes read at a time

int Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "linestat: %s%s\n", message, detail);
  return 2;
}

struct Counts {
  std::int64_t lines = 0;
  std::int64_t bytes = 0;
  std::int64_t longest = 0;
  std::int64_t longestLine = 0;
  std::int64_t withWord = 0;
};

struct Search {
  const char* word = nullptr;
  std::uint32_t mode = tw::kFindWholeWord;
};

bool IsWordByte(unsigned char c) {
  return c > 64;
}

// A one-byte word: TextFind compares single bytes exactly and without the
// whole-word rule, so the line is searched here by the same rules as longer
// words (bit 5 set on both bytes when case is ignored).
bool HoldsByte(const char* line, std::size_t length, unsigned char byte, bool ignoreCase) {
  const unsigned char fold = ignoreCase ? 0x20 : 0;
  for (std::size_t at = 0; at < length; ++at) {
    const unsigned char c = static_cast<unsigned char>(line[at]);
    if (c == 0) return false;  // the line reads as a text: it ends at a zero byte
    if ((c | fold) != (byte | fold)) continue;
    const bool before = at == 0 || !IsWordByte(static_cast<unsigned char>(line[at - 1]));
    const bool after = at + 1 == length || !IsWordByte(static_cast<unsigned char>(line[at + 1]));
    if (before && after) return true;
  }
  return false;
}

// One line: line[0, length), with room for a zero byte after it.
void CountLine(char* line, std::size_t length, const Search& search, Counts* counts) {
  ++counts->lines;
  if (static_cast<std::int64_t>(length) > counts->longest) {
    counts->longest = static_cast<std::int64_t>(length);
    counts->longestLine = counts->lines;
  }
  if (search.word == nullptr) return;
  bool holds;
  if (search.word[1] == '\0') {
    holds = HoldsByte(line, length, static_cast<unsigned char>(search.word[0]),
                      (search.mode & tw::kFindIgnoreCase) != 0);
  } else {
    const char kept = line[length];
    line[length] = '\0';
    holds = tw::TextFind(1, line, search.word, search.mode).position > 0;
    line[length] = kept;
  }
  counts->withWord += holds ? 1 : 0;
}

// Splits text[0, size) into lines, each counted; returns where the unfinished
// last line starts. crlf: -1 until the first line feed decides it.
std::size_t CountLines(char* text, std::size_t size, int* crlf, const Search& search,
                       Counts* counts) {
  std::size_t start = 0;
  std::size_t from = 0;
  while (from < size) {
    char* feed = static_cast<char*>(std::memchr(text + from, '\n', size - from));
    if (feed == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(feed - text);
    const bool afterCr = at > start && text[at - 1] == '\r';
    if (*crlf < 0) *crlf = afterCr ? 1 : 0;
    from = at + 1;
    if (*crlf == 1 && !afterCr) continue;  // a line feed inside a CR LF line
    CountLine(text + start, at - start - (*crlf == 1 ? 1 : 0), search, counts);
    start = at + 1;
  }
  return start;
}

// Reads the whole input (for a UTF-16 one) after the first bytes.
bool ReadRest(HANDLE input, std::vector<char>* text) {
  for (;;) {
    const std::size_t used = text->size();
    if (used > tw::kLoadLimit) return false;
    text->resize(used + kPiece);
    DWORD got = 0;
    const BOOL ok = ReadFile(input, text->data() + used, static_cast<DWORD>(kPiece), &got, nullptr);
    text->resize(used + got);
    if (!ok || got == 0) return true;
  }
}

// Counts the input in pieces; returns false when it cannot be read or is too
// large.
bool CountInput(HANDLE input, const Search& search, Counts* counts) {
  std::vector<char> buffer(kPiece + 1);
  std::size_t pending = 0;  // bytes of an unfinished line at the buffer's start
  int crlf = -1;
  bool first = true;
  for (;;) {
    if (buffer.size() - 1 - pending < kPiece / 2) buffer.resize(2 * buffer.size());
    DWORD got = 0;
    const DWORD room = static_cast<DWORD>(buffer.size() - 1 - pending);
    if (!ReadFile(input, buffer.data() + pending, room, &got, nullptr)) return false;
    if (first && got >= 2 && tw::IsUtf16Text(buffer.data(), 2)) {
      // UTF-16: the whole text is converted to UTF-8 and counted as one piece.
      buffer.resize(got);
      if (!ReadRest(input, &buffer)) return false;
      const std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
      const std::uint64_t utf8 = tw::Utf8SizeOfUtf16(buffer.data(), size);
      if (utf8 > tw::kLoadLimit) return false;
      std::vector<char> text(utf8 + 1);
      tw::Utf16ToUtf8(buffer.data(), size, text.data());
      counts->bytes = static_cast<std::int64_t>(utf8);
      const std::size_t rest = CountLines(text.data(), utf8, &crlf, search, counts);
      if (rest < utf8) CountLine(text.data() + rest, utf8 - rest, search, counts);
      return true;
    }
    first = false;
    if (got == 0) break;
    counts->bytes += got;
    const std::size_t size = pending + got;
    const std::size_t start = CountLines(buffer.data(), size, &crlf, search, counts);
    pending = size - start;
    std::memmove(buffer.data(), buffer.data() + start, pending);
  }
  if (pending > 0) CountLine(buffer.data(), pending, search, counts);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Search search;
  const char* input = nullptr;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (options && std::strcmp(argument, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (options && std::strcmp(argument, "--") == 0) {
      options = false;
    } else if (options && std::strcmp(argument, "--word") == 0) {
      if (i + 1 == argc) return Fail("--word needs a word", "");
      search.word = argv[++i];
      if (static_cast<unsigned char>(search.word[0]) <= 32)
        return Fail("the word must not be empty or begin with a space: ", search.word);
    } else if (options && std::strcmp(argument, "--ignore-case") == 0) {
      search.mode |= tw::kFindIgnoreCase;
    } else if (options && argument[0] == '-' && argument[1] != '\0') {
      return Fail("unknown option ", argument);
    } else if (input != nullptr) {
      return Fail("more than one input file: ", argument);
    } else {
      input = argument;
    }
  }
  if (input == nullptr) input = "-";
  if (const char* problem = examples::InputProblem(input)) {
    std::fprintf(stderr, "linestat: cannot read %s: %s\n", input, problem);
    return 2;
  }
  examples::ReportFailuresAs("linestat");
  static char reading[600];
  std::snprintf(reading, sizeof reading, "cannot read %s", examples::InputName(input));
  examples::Doing(reading);
  if (!examples::OpenInput(input)) {
    std::fprintf(stderr, "linestat: %s: it cannot be opened\n", reading);
    return 2;
  }
  Counts counts;
  const bool read = CountInput(tw::FileSlotHandle(examples::kInputSlot), search, &counts);
  tw::FileClose(examples::kInputSlot);
  if (!read) {
    std::fprintf(stderr, "linestat: %s: a read failed, or it is larger than 2 GiB\n", reading);
    return 2;
  }
  std::printf("lines\t%lld\nbytes\t%lld\nlongest\t%lld\tline %lld\n",
              static_cast<long long>(counts.lines), static_cast<long long>(counts.bytes),
              static_cast<long long>(counts.longest), static_cast<long long>(counts.longestLine));
  if (search.word != nullptr) {
    std::printf("word\t%s\t%lld\n", search.word, static_cast<long long>(counts.withWord));
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "linestat: cannot write the output\n");
    return 2;
  }
  return 0;
}
