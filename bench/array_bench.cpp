// Arrays: Recall beside std::getline into a vector of strings and an mmap plus
// memchr split (CR LF and LF files of 1 MiB and 100 MiB), Recall of a UTF-16
// file beside iconv plus the same split, Store beside std::ofstream, and the
// sorts: NumberArraySort beside qsort and std::sort on a million random ints
// and floats, StringArraySort beside std::sort with a case-insensitive
// comparison on the lines of the project's own sources. Files are made once
// in the temporary folder and read from the page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/arrays.h"
#include "support/recall.h"
#include "support/sort.h"

namespace {

constexpr int kArray = 1;

// ---- Files ----

enum class Kind { CrLf, Lf, Utf16 };

// Lines of 0 to 12 random words of 1 to 9 letters (about 40 bytes a line).
std::string RandomText(std::size_t size, const char* end) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string text;
  text.reserve(size + 128);
  while (text.size() < size) {
    const int words = static_cast<int>(random() % 13);
    for (int w = 0; w < words; ++w) {
      if (w > 0) text += ' ';
      const int letters = 1 + static_cast<int>(random() % 9);
      for (int l = 0; l < letters; ++l) {
        text += static_cast<char>((random() % 4 == 0 ? 'A' : 'a') + random() % 26);
      }
    }
    text += end;
  }
  return text;
}

const std::string& BenchFile(Kind kind, std::size_t size) {
  static std::map<std::pair<int, std::size_t>, std::string> files;
  std::string& path = files[{static_cast<int>(kind), size}];
  if (!path.empty()) return path;
  const char* names[] = {"crlf", "lf", "utf16"};
  path = (std::filesystem::temp_directory_path() /
          ("tw-bench-" + std::string(names[static_cast<int>(kind)]) + "-" + std::to_string(size)))
             .string();
  std::string text =
      RandomText(kind == Kind::Utf16 ? size / 2 : size, kind == Kind::Lf ? "\n" : "\r\n");
  if (kind == Kind::Utf16) {
    std::string wide = "\xFF\xFE";
    for (char c : text) {
      wide += c;
      wide += '\0';
    }
    text.swap(wide);
  }
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::int64_t FileBytes(const std::string& path) {
  return static_cast<std::int64_t>(std::filesystem::file_size(path));
}

// ---- Line splits ----

// CR LF line ends, or LF alone.
inline std::string_view WithoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

void SplitInto(const char* text, std::size_t size, std::vector<std::string_view>* lines) {
  const char* at = text;
  const char* end = text + size;
  while (at < end) {
    const char* feed =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    const char* lineEnd = feed != nullptr ? feed : end;
    lines->push_back(WithoutCr(std::string_view(at, static_cast<std::size_t>(lineEnd - at))));
    at = lineEnd + 1;
  }
}

void RunRecall(benchmark::State& state, Kind kind) {
  const std::string& path = BenchFile(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const tw::RecallResult result = tw::Recall(tw::RecallName(path.c_str()), kArray, 0, 0);
    benchmark::DoNotOptimize(result);
  }
  tw::ArrayErase(kArray);
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}

void RunGetline(benchmark::State& state, Kind kind) {
  const std::string& path = BenchFile(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
    }
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}

void RunMemchr(benchmark::State& state, Kind kind) {
  const std::string& path = BenchFile(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const int file = open(path.c_str(), O_RDONLY);
    struct stat info;
    fstat(file, &info);
    const auto size = static_cast<std::size_t>(info.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file, 0);
    std::vector<std::string_view> lines;
    SplitInto(static_cast<const char*>(map), size, &lines);
    benchmark::DoNotOptimize(lines.data());
    munmap(map, size);
    close(file);
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}

void RecallCrLf_ours(benchmark::State& state) {
  RunRecall(state, Kind::CrLf);
}
void RecallCrLf_getline(benchmark::State& state) {
  RunGetline(state, Kind::CrLf);
}
void RecallCrLf_memchr(benchmark::State& state) {
  RunMemchr(state, Kind::CrLf);
}
void RecallLf_ours(benchmark::State& state) {
  RunRecall(state, Kind::Lf);
}
void RecallLf_getline(benchmark::State& state) {
  RunGetline(state, Kind::Lf);
}
void RecallLf_memchr(benchmark::State& state) {
  RunMemchr(state, Kind::Lf);
}

#define TW_RECALL_SIZES(function) \
  BENCHMARK(function)->Arg(1 << 20)->Arg(100 << 20)->Unit(benchmark::kMillisecond)
TW_RECALL_SIZES(RecallCrLf_ours);
TW_RECALL_SIZES(RecallCrLf_getline);
TW_RECALL_SIZES(RecallCrLf_memchr);
TW_RECALL_SIZES(RecallLf_ours);
TW_RECALL_SIZES(RecallLf_getline);
TW_RECALL_SIZES(RecallLf_memchr);

// UTF-16: Recall converts and splits; the peer reads the file, converts it
// with iconv and splits the result with memchr.
void RecallUtf16_ours(benchmark::State& state) {
  RunRecall(state, Kind::Utf16);
}
void RecallUtf16_iconv(benchmark::State& state) {
  const std::string& path = BenchFile(Kind::Utf16, static_cast<std::size_t>(state.range(0)));
  const iconv_t convert = iconv_open("UTF-8", "UTF-16LE");
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::string wide((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string utf8(wide.size() / 2 * 3 + 3, '\0');
    char* from = wide.data();
    std::size_t fromLeft = wide.size();
    char* to = utf8.data();
    std::size_t toLeft = utf8.size();
    iconv(convert, &from, &fromLeft, &to, &toLeft);
    std::vector<std::string_view> lines;
    SplitInto(utf8.data(), utf8.size() - toLeft, &lines);
    benchmark::DoNotOptimize(lines.data());
  }
  iconv_close(convert);
  state.SetBytesProcessed(state.iterations() * FileBytes(path));
}
BENCHMARK(RecallUtf16_ours)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(RecallUtf16_iconv)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

// ---- Store ----

void Store_ours(benchmark::State& state) {
  const std::string& source = BenchFile(Kind::CrLf, static_cast<std::size_t>(state.range(0)));
  tw::Recall(tw::RecallName(source.c_str()), kArray, 0, 0);
  const std::string out = source + ".stored";
  for (auto _ : state) {
    benchmark::DoNotOptimize(tw::Store(tw::StoreName(out.c_str()), kArray, -1));
  }
  tw::ArrayErase(kArray);
  state.SetBytesProcessed(state.iterations() * FileBytes(source));
  std::remove(out.c_str());
}

void Store_ofstream(benchmark::State& state) {
  const std::string& source = BenchFile(Kind::CrLf, static_cast<std::size_t>(state.range(0)));
  std::ifstream in(source, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    line.pop_back();
    lines.push_back(line);
  }
  const std::string out = source + ".streamed";
  for (auto _ : state) {
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) {
      file.write(line.data(), static_cast<std::streamsize>(line.size()));
      file.write("\r\n", 2);
    }
  }
  state.SetBytesProcessed(state.iterations() * FileBytes(source));
  std::remove(out.c_str());
}
BENCHMARK(Store_ours)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(Store_ofstream)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

// ---- Number sorts ----

constexpr std::size_t kNumbers = 1 << 20;

const std::vector<std::int32_t>& RandomNumbers(bool floats) {
  static std::vector<std::int32_t> sets[2];
  std::vector<std::int32_t>& values = sets[floats ? 1 : 0];
  if (values.empty()) {
    std::mt19937 random(floats ? 2 : 1);
    std::uniform_real_distribution<float> real(-1e6f, 1e6f);
    for (std::size_t i = 0; i < kNumbers; ++i) {
      if (floats) {
        const float value = real(random);
        std::int32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        values.push_back(bits);
      } else {
        values.push_back(static_cast<std::int32_t>(random()));
      }
    }
  }
  return values;
}

int CompareInts(const void* a, const void* b) {
  const std::int32_t x = *static_cast<const std::int32_t*>(a);
  const std::int32_t y = *static_cast<const std::int32_t*>(b);
  return (x > y) - (x < y);
}
int CompareFloats(const void* a, const void* b) {
  const float x = *static_cast<const float*>(a);
  const float y = *static_cast<const float*>(b);
  return (x > y) - (x < y);
}

// Every iteration sorts a fresh copy of the same numbers (the copy is timed
// for every implementation alike).
template <typename Sort>
void RunNumberSort(benchmark::State& state, bool floats, const char* label, Sort sort) {
  const std::vector<std::int32_t>& numbers = RandomNumbers(floats);
  std::vector<std::int32_t> work(numbers.size());
  for (auto _ : state) {
    std::memcpy(work.data(), numbers.data(), numbers.size() * sizeof(std::int32_t));
    sort(work.data(), static_cast<std::int32_t>(work.size()));
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(numbers.size()));
  state.SetLabel(label);
}

void SortInts_ours(benchmark::State& state) {
  RunNumberSort(state, false, "1 M random ints", [](std::int32_t* v, std::int32_t n) {
    tw::NumberArraySort(v, n, tw::kSortIntegers);
  });
}
void SortInts_qsort(benchmark::State& state) {
  RunNumberSort(state, false, "1 M random ints", [](std::int32_t* v, std::int32_t n) {
    std::qsort(v, static_cast<std::size_t>(n), sizeof *v, CompareInts);
  });
}
void SortInts_stdsort(benchmark::State& state) {
  RunNumberSort(state, false, "1 M random ints",
                [](std::int32_t* v, std::int32_t n) { std::sort(v, v + n); });
}
void SortFloats_ours(benchmark::State& state) {
  RunNumberSort(state, true, "1 M random floats", [](std::int32_t* v, std::int32_t n) {
    tw::NumberArraySort(v, n, tw::kSortFloats);
  });
}
void SortFloats_qsort(benchmark::State& state) {
  RunNumberSort(state, true, "1 M random floats", [](std::int32_t* v, std::int32_t n) {
    std::qsort(v, static_cast<std::size_t>(n), sizeof *v, CompareFloats);
  });
}
void SortFloats_stdsort(benchmark::State& state) {
  RunNumberSort(state, true, "1 M random floats", [](std::int32_t* v, std::int32_t n) {
    float* f = reinterpret_cast<float*>(v);
    std::sort(f, f + n);
  });
}
BENCHMARK(SortInts_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(SortInts_qsort)->Unit(benchmark::kMillisecond);
BENCHMARK(SortInts_stdsort)->Unit(benchmark::kMillisecond);
BENCHMARK(SortFloats_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(SortFloats_qsort)->Unit(benchmark::kMillisecond);
BENCHMARK(SortFloats_stdsort)->Unit(benchmark::kMillisecond);

// ---- String sort ----

// The lines of the project's sources and documents, as one text file.
const std::string& SourceLinesFile() {
  static std::string path;
  if (!path.empty()) return path;
  std::string text;
  for (const char* folder : {"support", "trace", "tests", "docs", "compat", "bench", "app"}) {
    const std::filesystem::path dir = std::filesystem::path(TW_SOURCE_DIR) / folder;
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h" && ext != ".md") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  path = (std::filesystem::temp_directory_path() / "tw-bench-source-lines").string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

int FoldedCompare(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return (a.size() > n) - (b.size() > n);
}

void SortStrings_ours(benchmark::State& state) {
  const tw::RecallResult loaded =
      tw::Recall(tw::RecallName(SourceLinesFile().c_str()), kArray, 0, 0);
  tw::ArrayElementEntry* elements = tw::ArrayElements(tw::ArrayHeaderOf(kArray));
  const std::vector<tw::ArrayElementEntry> original(elements, elements + loaded.lines);
  for (auto _ : state) {
    std::copy(original.begin(), original.end(), elements);
    tw::StringArraySort(kArray, 0);
  }
  tw::ArrayErase(kArray);
  state.SetItemsProcessed(state.iterations() * loaded.lines);
  state.SetLabel("source lines");
}

void SortStrings_stdsort(benchmark::State& state) {
  std::ifstream in(SourceLinesFile(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string_view> original;
  SplitInto(text.data(), text.size(), &original);
  std::vector<std::string_view> lines;
  for (auto _ : state) {
    lines = original;
    std::sort(lines.begin(), lines.end(),
              [](std::string_view a, std::string_view b) { return FoldedCompare(a, b) < 0; });
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(original.size()));
  state.SetLabel("source lines");
}
BENCHMARK(SortStrings_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(SortStrings_stdsort)->Unit(benchmark::kMillisecond);

}  // namespace
