// Command-line arguments, string resources and deferred file reads, and the
// file-read case of the deferred operations.
#include "support/cmdline.h"

#include <cstring>

#include "compat/win32.h"
#include "support/errors.h"
#include "support/files.h"

namespace tw {

namespace {

constexpr int kResourceCapacity = 4096;  // characters or UTF-16 units
constexpr std::uint32_t kLargestResourceId = 0xFFFF;

// A file-read record: marker, code, name address, size; a pattern's matched
// path may follow it.
constexpr int kRecordWords = 4;
constexpr int kPathWords = (MAX_PATH + sizeof(DeferredWord) - 1) / sizeof(DeferredWord);

const char* g_commandLineForTest = nullptr;

const unsigned char* CommandLine() {
  const char* line = g_commandLineForTest != nullptr ? g_commandLineForTest : GetCommandLineA();
  return reinterpret_cast<const unsigned char*>(line != nullptr ? line : "");
}

bool IsQuoteCharacter(unsigned char c) {
  return c >= 33 && c <= 39;
}

bool IsBlank(unsigned char c) {
  return c >= 1 && c <= 32;
}

// Copies one byte unless the text has reached the area's limit (its last byte
// is kept for the NUL).
char* CopyByte(char* out, const char* limit, unsigned char c) {
  if (out < limit) *out++ = static_cast<char>(c);
  return out;
}

TempTextResult MissingArgument(char* start) {
  start[0] = '?';
  start[1] = '\0';
  TempTextResult result = TempTextEnd(start + 1, kSlotNext);
  result.text = nullptr;
  return result;
}

std::uint32_t ReadFieldWord(const DeferredWord* fields, int index) {
  DeferredWord word;
  std::memcpy(&word, reinterpret_cast<const char*>(fields) + index * sizeof word, sizeof word);
  return static_cast<std::uint32_t>(word);
}

const char* ReadFieldAddress(const DeferredWord* fields, int index) {
  DeferredWord word;
  std::memcpy(&word, reinterpret_cast<const char*>(fields) + index * sizeof word, sizeof word);
  return reinterpret_cast<const char*>(word);
}

// Carries out a file-read record: reads the recorded number of bytes of the
// file through slot 10. A file that has shrunk since leaves zeros after its
// bytes, up to the recorded size; the end returned is that of the bytes read.
char* MaterialiseFileRead(const DeferredWord* fields, char* destination) {
  const char* name = ReadFieldAddress(fields, 0);
  const std::uint32_t size = ReadFieldWord(fields, 1);
  FileOpenRead(kDeferredReadSlot, name, kSearchNone);
  const FileReadResult read = FileReadSlot(kDeferredReadSlot, destination, size);
  FileClose(kDeferredReadSlot);
  const std::uint32_t count = static_cast<std::uint32_t>(read.count);
  if (count < size) std::memset(destination + count, 0, size - count);
  return destination + count;
}

bool HasWildcard(const char* name) {
  return std::strpbrk(name, "*?") != nullptr;
}

// The folder part of pattern (up to its last separator) followed by found,
// the name of a match, into path (MAX_PATH bytes); its length, or 0 when it
// does not fit.
std::size_t MatchedPath(const char* pattern, const char* found, char* path) {
  std::size_t folder = 0;
  for (std::size_t at = 0; pattern[at] != '\0'; ++at) {
    const char c = pattern[at];
    if (c == '/' || c == '\\' || (c == ':' && at == 1)) folder = at + 1;
  }
  const std::size_t name = std::strlen(found);
  if (folder + name >= MAX_PATH) return 0;
  std::memcpy(path, pattern, folder);
  std::memcpy(path + folder, found, name + 1);
  return folder + name;
}

}  // namespace

TempTextResult CommandLineArg(std::int32_t n) {
  char* const start = TempTextBegin();
  const char* const limit = start + kTempTextMaxBytes - 1;
  const unsigned char* at = CommandLine();
  if (n < 0) n = 0;
  for (std::int32_t index = 0;; ++index) {
    while (IsBlank(*at)) ++at;
    if (*at == '\0') return MissingArgument(start);
    unsigned char delimiter = ' ';
    if (IsQuoteCharacter(*at)) delimiter = *at++;
    char* out = start;
    unsigned char ender = '\0';
    if (*at != '\0') {
      out = CopyByte(out, limit, *at++);
      for (;;) {
        ender = *at;
        if (ender == delimiter || ender <= 9) break;
        out = CopyByte(out, limit, ender);
        ++at;
      }
      if (ender != '\0') ++at;
    }
    if (index == n) {
      if (ender != delimiter && delimiter != ' ') return MissingArgument(start);
      *out = '\0';
      return TempTextEnd(out, kSlotNext);
    }
    if (ender == '\0') return MissingArgument(start);
  }
}

char* ResourceText(std::int32_t id) {
  char* const start = TempTextBegin();
  HMODULE module = GetModuleHandleA(nullptr);
  const bool wide = id < 0;
  const std::uint32_t number =
      wide ? 0u - static_cast<std::uint32_t>(id) : static_cast<std::uint32_t>(id);
  int count = 0;
  if (number <= kLargestResourceId) {
    count = wide ? LoadStringW(module, number, reinterpret_cast<WCHAR*>(start), kResourceCapacity)
                 : LoadStringA(module, number, start, kResourceCapacity);
  }
  char* end;
  if (count > 0) {
    end = start + (wide ? 2 * count : count);
  } else if (wide) {
    static const char kWideMissing[6] = {'R', 0, '?', 0, 0, 0};
    std::memcpy(start, kWideMissing, sizeof kWideMissing);
    end = start + 4;
  } else {
    std::memcpy(start, "R?", 3);
    end = start + 2;
  }
  TempTextEnd(end, kSlotNext);
  return start;
}

TempTextResult DeferredFileRead(const char* name) {
  SetDeferredHandler(kDeferredFileRead, MaterialiseFileRead);
  if (name == nullptr || !FileExists(name, 1)) FatalError(kErrorOpenForRecall, name);
  const WIN32_FIND_DATAA& data = FileFindData();
  // A folder is not a file: it cannot be opened for reading.
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FatalError(kErrorOpenForRecall, name);
  }
  if (data.nFileSizeHigh != 0 || data.nFileSizeLow > 0x7FFFFFFFu) FatalError(kErrorBuffer, nullptr);
  const std::int32_t size = static_cast<std::int32_t>(data.nFileSizeLow);
  DeferredWord words[kRecordWords + kPathWords] = {kDeferredMarker, kDeferredFileRead, 0, size};
  if (!HasWildcard(name)) {
    // A name in the temporary text area must not lie where the record goes.
    const char* kept = KeepSourceApart(name, static_cast<std::uint32_t>(std::strlen(name)),
                                       kRecordWords * sizeof(DeferredWord));
    words[2] = reinterpret_cast<DeferredWord>(kept);
    ResultSlotRecord* slot = DeferredCommit(words, kRecordWords, size);
    return {reinterpret_cast<char*>(slot->address), slot};
  }
  // A pattern reads the file that the search found first (whose size is
  // recorded): its path goes into the record, after the four words, and the
  // record names it there. The pattern itself is not needed after this copy.
  char* path = reinterpret_cast<char*>(words + kRecordWords);
  const std::size_t length = MatchedPath(name, data.cFileName, path);
  if (length == 0) FatalError(kErrorOpenForRecall, name);
  const int count =
      kRecordWords + static_cast<int>((length + sizeof(DeferredWord)) / sizeof(DeferredWord));
  // The record is written at the free position: its name field names the copy
  // of the path inside it.
  words[2] = reinterpret_cast<DeferredWord>(TempTextBegin() + kRecordWords * sizeof(DeferredWord));
  ResultSlotRecord* slot = DeferredCommit(words, count, size);
  return {reinterpret_cast<char*>(slot->address), slot};
}

namespace testing {

void UseCommandLine(const char* line) {
  g_commandLineForTest = line;
}

}  // namespace testing

}  // namespace tw
