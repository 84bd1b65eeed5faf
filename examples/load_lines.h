// What the example programs share: loading a file's (or standard input's)
// lines with the line ends its first line end shows, checking an input before
// it is loaded, and turning the library's fatal errors into one-line messages
// with exit code 2.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/errors.h"
#include "support/files.h"
#include "support/recall.h"
#include "trace/msgbox.h"

namespace examples {

constexpr int kInputSlot = 2;

// The input's name in messages: "-" is standard input.
inline const char* InputName(const char* name) {
  return std::strcmp(name, "-") == 0 ? "standard input" : name;
}

// What the library's fatal-error report would end the program with becomes a
// message "<program>: <what it was doing>: <reason>" and exit code 2: no box
// is shown, and the file concerned is named.
struct FailureReport {
  const char* program;
  const char* doing;  // e.g. "cannot read in.txt"
};
inline FailureReport g_failure = {"example", "failed"};

inline void ReportFailure(int number, const char*) {
  const char* reason = number == tw::kErrorHeapAlloc ? "not enough memory (the limit is 2 GiB)"
                       : number == tw::kErrorOpenForStore || number == tw::kErrorOpenForRecall
                           ? "the system refused it"
                           : "the library stopped with an error";
  std::fprintf(stderr, "%s: %s: %s\n", g_failure.program, g_failure.doing, reason);
  std::fflush(stderr);
  std::exit(2);
}

inline void ReportFailuresAs(const char* program) {
  g_failure.program = program;
  tw::SetMessageBoxFunction([](const char*, const char*, UINT) { return IDOK; });
  tw::SetRecoveryPoint(ReportFailure);
}

// What the program is doing now, for a failure's message (text must last).
inline void Doing(const char* text) {
  g_failure.doing = text;
}

// Why name cannot be read as an input, or nullptr: a missing file, a folder,
// a file larger than a load can take. Standard input ("-") is checked when it
// is read.
inline const char* InputProblem(const char* name) {
  if (std::strcmp(name, "-") == 0) return nullptr;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return "no such file";
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "is a folder";
  const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  if (size > tw::kLoadLimit) return "larger than 2 GiB, more than a load can take";
  return nullptr;
}

// Opens the input (a file, or standard input for "-") in the input slot.
inline bool OpenInput(const char* name) {
  if (std::strcmp(name, "-") == 0) {
    tw::SetFileSlotHandle(kInputSlot, GetStdHandle(STD_INPUT_HANDLE));
    return true;
  }
  return tw::FileOpenRead(kInputSlot, name, tw::kSearchNone) != INVALID_HANDLE_VALUE;
}

// Loads the input into array number. The lines end where the first line end
// says: a first line feed without a carriage return before it makes every
// line feed a line end; after a carriage return, lines end at CR LF only (a
// line feed alone stays in its line). The text is read once, split at every
// line feed first, and split again at CR LF when the first line ended so.
inline tw::RecallResult LoadLines(const char* name, int number) {
  if (!OpenInput(name)) return tw::Recall(tw::RecallName(name), number, 0, 0);  // reports it
  tw::RecallResult loaded = tw::Recall(kInputSlot, number, 0, tw::kRecallLineFeeds);
  tw::ArrayHeader* header = tw::ArrayHeaderOf(number);
  if (loaded.lines == 0) return loaded;
  tw::ArrayElementEntry* lines = tw::ArrayElements(header);
  const std::int32_t firstLength = -lines[0].length;
  char* const text = tw::TextBlockStart(header->textBlock);
  const bool firstEndsWithCr =
      firstLength > 0 && text[firstLength - 1] == '\r' && firstLength < loaded.bytes;
  if (!firstEndsWithCr) return loaded;
  // Every line feed the split made a zero is a line feed again; then the
  // text is split at CR LF.
  for (std::int32_t i = 0; i + 1 < loaded.lines; ++i) {
    char* line = reinterpret_cast<char*>(lines[i].address);
    line[-lines[i].length] = '\n';
  }
  const char* last = reinterpret_cast<const char*>(lines[loaded.lines - 1].address);
  if (last - lines[loaded.lines - 1].length < text + loaded.bytes) {
    text[loaded.bytes - 1] = '\n';  // the text ended with a line end
  }
  loaded.lines = static_cast<std::int32_t>(
      tw::SplitLines(text, static_cast<std::uint32_t>(loaded.bytes), false, lines));
  header->count = loaded.lines;
  return loaded;
}

}  // namespace examples
