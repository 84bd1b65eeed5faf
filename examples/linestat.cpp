// linestat: counts the lines and bytes of a text file, finds its longest line
// and, given a word, counts the lines that hold it as a whole word (Recall,
// TextFind).
#include <cstdio>
#include <cstring>

#include "examples/load_lines.h"
#include "support/arrays.h"
#include "support/files.h"
#include "support/recall.h"
#include "support/search.h"

namespace {

constexpr int kLines = 1;

const char kUsage[] =
    "Usage: linestat [--word WORD] [--ignore-case] FILE\n"
    "Prints the number of lines and bytes of FILE, its longest line (bytes and\n"
    "line number) and, with --word, how many lines hold WORD as a whole word\n"
    "(the bytes around it are not letters: bytes of 64 or less, or the line's\n"
    "start or end). Lines end at CR LF, or at LF in files that use bare line\n"
    "feeds; a UTF-16 file with a byte-order mark is counted as its UTF-8 text.\n"
    "  --word WORD     count the lines that hold WORD\n"
    "  --ignore-case   compare WORD without regard to case\n"
    "  --help          show this text\n";

int Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "linestat: %s%s\n", message, detail);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* word = nullptr;
  const char* input = nullptr;
  std::uint32_t mode = tw::kFindWholeWord;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--word") == 0 && i + 1 < argc) {
      word = argv[++i];
      if (static_cast<unsigned char>(word[0]) <= 32)
        return Fail("the word must not begin with a space: ", word);
    } else if (std::strcmp(argv[i], "--ignore-case") == 0) {
      mode |= tw::kFindIgnoreCase;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Fail("unknown option ", argv[i]);
    } else if (input != nullptr) {
      return Fail("more than one input file: ", argv[i]);
    } else {
      input = argv[i];
    }
  }
  if (input == nullptr) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (tw::FileSize(input) < 0) return Fail("cannot read ", input);

  const tw::RecallResult loaded = examples::LoadLines(input, kLines);
  const tw::ArrayElementEntry* lines = tw::ArrayElements(tw::ArrayHeaderOf(kLines));
  std::int32_t longest = 0;
  std::int32_t longestLine = 0;
  std::int32_t withWord = 0;
  for (std::int32_t i = 0; i < loaded.lines; ++i) {
    const std::int32_t length = -lines[i].length;  // every line is borrowed
    if (length > longest) {
      longest = length;
      longestLine = i + 1;
    }
    if (word != nullptr) {
      const char* text = reinterpret_cast<const char*>(lines[i].address);
      if (tw::TextFind(1, text, word, mode).position > 0) ++withWord;
    }
  }
  std::printf("lines\t%d\nbytes\t%d\nlongest\t%d\tline %d\n", loaded.lines, loaded.bytes, longest,
              longestLine);
  if (word != nullptr) std::printf("word\t%s\t%d\n", word, withWord);
  tw::ArrayErase(kLines);
  return 0;
}
