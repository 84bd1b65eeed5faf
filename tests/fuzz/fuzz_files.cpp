// Fuzz target of file names and wildcard patterns in the file layer, inside a
// private temporary folder (names never leave it: "/" and "\" are taken out,
// and only the folder "sub" is put in front): FileExists against a plain
// listing and wildcard match, FileOpenRead and FileSize against stat, and
// DeferredFileRead, whose text must be the file's bytes (a pattern's: its
// first match's; a name that is no file, a folder say, is fatal error 5).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/cmdline.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/strings.h"

namespace {

std::string g_folder;

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

// The private folder (under TMPDIR, removed at exit) and its files: names of
// every shape the matcher must take. The process works inside it: give the
// fuzzer absolute paths.
void MakeFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tw-fuzz-files-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) {
    std::perror("private folder");
    std::abort();
  }
  g_folder = folder;
  std::atexit(RemoveFolder);
  const std::string longName(200, 'a');
  const char* const files[][2] = {
      {"a.txt", "alpha\r\n"},   {"b.TXT", "Bravo"}, {"abc", "abc"},           {"empty", ""},
      {"two words", "2 words"}, {".hidden", "h"},   {"x.tar.gz", "gz"},       {"noext", "n"},
      {"sub/x.txt", "in sub"},  {"sub/y", "why"},   {"sub/deeper/z.txt", "z"}};
  mkdir("sub", 0700);
  mkdir("sub/deeper", 0700);
  mkdir("emptydir", 0700);
  for (const auto& file : files) std::ofstream(file[0], std::ios::binary) << file[1];
  std::ofstream(longName, std::ios::binary) << "long";
  // A FIFO with no writer: opening or reading it must not wait.
  mkfifo("fifo", 0600);
}

// The wildcard match of the file layer: * any run, ? one character; a
// pattern ending in ".*" also matches names without that dot. A table of
// which pattern prefixes match which name prefixes (plain, and
// pattern-times-name steps like the layer's own).
bool Match(const std::string& pattern, const std::string& name) {
  std::vector<char> row(name.size() + 1, 0);  // pattern prefix p against name prefixes
  row[0] = 1;
  for (const char c : pattern) {
    std::vector<char> next(name.size() + 1, 0);
    if (c == '*') {
      for (std::size_t j = 0; j <= name.size(); ++j) next[j] = row[j] || (j > 0 && next[j - 1]);
    } else {
      for (std::size_t j = 1; j <= name.size(); ++j) {
        next[j] = row[j - 1] && (c == '?' || c == name[j - 1]);
      }
    }
    row.swap(next);
  }
  return row[name.size()] != 0;
}

bool MatchName(const std::string& pattern, const std::string& name) {
  if (Match(pattern, name)) return true;
  // "a.*" also matches "a": the pattern without its ".*" is tried as well.
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    return Match(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

// The folder part of a pattern ("" or ending in "/") and its last part.
std::string FolderPart(const std::string& pattern) {
  const std::size_t slash = pattern.rfind('/');
  return slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
}

// The first name (in byte order) of the pattern's folder that its last part
// matches; empty when none does.
std::string FirstMatch(const std::string& pattern) {
  const std::string folder = FolderPart(pattern);
  const std::string last = pattern.substr(folder.size());
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return std::string();
  std::string first;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (MatchName(last, name) && (first.empty() || name < first)) first = name;
  }
  closedir(dir);
  return first;
}

std::string FileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Name(tw_fuzz::Input& in) {
  std::string name;
  for (const char c : tw_fuzz::UpToZero(in.Text(220))) {
    if (c != '/' && c != '\\') name += c;
  }
  if (in.Byte() % 4 == 0) name = "sub/" + name;
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool made = (MakeFolder(), true);
  (void)made;
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) {
    return tw_fuzz::AfterFatalError(tw_fuzz::Allow(tw::kErrorOpenForRecall));
  }
  tw_fuzz::Input in(data, size);
  const std::uint8_t operation = in.Byte();
  const std::string name = Name(in);
  const char* placed = tw_fuzz::GuardedText(0, name);
  const bool wild = name.find_first_of("*?") != std::string::npos;
  struct stat info;
  const bool exists = !wild && stat(name.c_str(), &info) == 0;
  const bool regular = exists && S_ISREG(info.st_mode);
  const std::string what = tw_fuzz::Escaped(name);
  switch (operation % 4) {
    case 0: {
      const int got = tw::FileExists(placed, operation & 0x10);
      // A name ending in its folder separator names nothing to find.
      const std::string first = wild ? FirstMatch(name) : std::string();
      const bool expected = !name.empty() && name.back() != '/' && (wild ? !first.empty() : exists);
      TW_FUZZ_CHECK((got != 0) == expected, "FileExists(" + what + ") gave " + std::to_string(got));
      if (got != 0 && wild) {
        // The first match is the first name in byte order.
        const std::string found = tw::FileFindData().cFileName;
        TW_FUZZ_CHECK(found == first, "FileExists(" + what + ") found " + tw_fuzz::Escaped(found) +
                                          ", expected " + tw_fuzz::Escaped(first));
      }
      break;
    }
    case 1: {
      const int slot = (operation >> 4) % tw::kFileSlotCount;
      const HANDLE handle = tw::FileOpenRead(slot, placed, tw::kSearchNone);
      const bool opened = handle != INVALID_HANDLE_VALUE;
      if (regular) {
        TW_FUZZ_CHECK(opened, "FileOpenRead(" + what + ") failed");
        TW_FUZZ_CHECK(tw::FileSize(slot) == info.st_size, "FileSize of slot with " + what);
        char buffer[64];
        const tw::FileReadResult read = tw::FileReadSlot(slot, buffer, sizeof buffer);
        const std::string bytes = FileBytes(name).substr(0, sizeof buffer);
        TW_FUZZ_CHECK(read.count == static_cast<std::int32_t>(bytes.size()) &&
                          std::memcmp(buffer, bytes.data(), bytes.size()) == 0,
                      "FileReadSlot of " + what);
      } else if (exists && S_ISFIFO(info.st_mode)) {
        TW_FUZZ_CHECK(opened, "FileOpenRead(" + what + ") of a FIFO failed");
      } else if (!exists) {
        TW_FUZZ_CHECK(!opened, "FileOpenRead(" + what + ") opened what is not there");
      }
      tw::FileClose(slot);
      break;
    }
    case 2: {
      const std::int64_t got = tw::FileSize(placed);
      if (regular) {
        TW_FUZZ_CHECK(got == info.st_size, "FileSize(" + what + ") gave " + std::to_string(got));
      } else if (!exists && !wild) {
        TW_FUZZ_CHECK(got == -1, "FileSize(" + what + ") gave " + std::to_string(got));
      }
      break;
    }
    default: {
      // A name that is not a file (missing, a folder) is fatal error 5; a
      // pattern reads its first match (fatal error 5 when that is a folder);
      // a FIFO reads what is there (nothing, without a writer).
      const tw::TempTextResult record = tw::DeferredFileRead(placed);
      const char* kept = tw::ResultPersist();
      const std::string path = wild ? FolderPart(name) + tw::FileFindData().cFileName : name;
      struct stat read;
      TW_FUZZ_CHECK(
          stat(path.c_str(), &read) == 0 && (S_ISREG(read.st_mode) || S_ISFIFO(read.st_mode)),
          "DeferredFileRead(" + what + ") read " + tw_fuzz::Escaped(path) + ", not a file");
      const std::string bytes = S_ISFIFO(read.st_mode) ? std::string() : FileBytes(path);
      TW_FUZZ_CHECK(record.slot->length == static_cast<std::int32_t>(bytes.size()) &&
                        bytes == std::string(kept, bytes.size()) && kept[bytes.size()] == '\0',
                    "DeferredFileRead(" + what + ") gave " + tw_fuzz::Escaped(kept));
      break;
    }
  }
  return 0;
}
