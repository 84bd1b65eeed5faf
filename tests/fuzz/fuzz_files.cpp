// Fuzz target of file names and wildcard patterns in the file layer, inside a
// private temporary folder (names never leave it: "/" and "\" are taken out,
// and only the folder "sub" is put in front): FileExists against a plain
// listing and wildcard match, FileOpenRead and FileSize against stat, and
// DeferredFileRead, whose text must be the file's bytes (a name that is not a
// file, a folder or a pattern included, is fatal error 5).
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
// pattern ending in ".*" also matches names without that dot. Slow and
// plain, by recursion on short texts.
bool Match(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* at = name;; ++at) {
      if (Match(pattern + 1, at)) return true;
      if (*at == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern == '?' || *pattern == *name) return Match(pattern + 1, name + 1);
  return false;
}

bool MatchName(const std::string& pattern, const std::string& name) {
  if (Match(pattern.c_str(), name.c_str())) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return Match(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  }
  return false;
}

// Whether the folder part of pattern holds a name its last part matches.
bool AnyMatch(const std::string& pattern) {
  const std::size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
  const std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (MatchName(last, entry->d_name)) found = true;
  }
  closedir(dir);
  return found;
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
      const bool expected = !name.empty() && name.back() != '/' && (wild ? AnyMatch(name) : exists);
      TW_FUZZ_CHECK((got != 0) == expected, "FileExists(" + what + ") gave " + std::to_string(got));
      if (got != 0 && wild) {
        const std::string found = tw::FileFindData().cFileName;
        const std::size_t slash = name.rfind('/');
        TW_FUZZ_CHECK(MatchName(slash == std::string::npos ? name : name.substr(slash + 1), found),
                      "FileExists(" + what + ") found " + tw_fuzz::Escaped(found));
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
      // Not a file (missing, a folder, a pattern): fatal error 5 here or when
      // the record is carried out; a file: its bytes.
      tw::DeferredFileRead(placed);
      const char* kept = tw::ResultPersist();
      TW_FUZZ_CHECK(regular, "DeferredFileRead(" + what + ") read what is not a file");
      const std::string bytes = FileBytes(name);
      TW_FUZZ_CHECK(bytes == std::string(kept, bytes.size()) && kept[bytes.size()] == '\0',
                    "DeferredFileRead(" + what + ") gave " + tw_fuzz::Escaped(kept));
      break;
    }
  }
  return 0;
}
