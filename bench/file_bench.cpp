// FileCompare (per kernel set) of two equal files from the page cache beside
// the same comparison written with std::fread into 4,096-byte buffers and
// memcmp, the way a user would otherwise compare two files. Both read every
// byte of both files; the files are made once in the temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "bench/bench_sizes.h"
#include "support/files.h"

namespace {

// Two files of size random bytes with the same content.
const std::string& EqualFile(std::size_t size, int which) {
  static std::string paths[2][2];
  const int bySize = size > (1 << 20) ? 1 : 0;
  std::string& path = paths[bySize][which];
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("tw-bench-compare-" + std::to_string(size) + "-" + std::to_string(which)))
               .string();
    std::mt19937 random(11);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1 << 20)->Arg(16 << 20);
}

void FileCompare_ours(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string& first = EqualFile(size, 0);
  const std::string& second = EqualFile(size, 1);
  for (auto _ : state) {
    const tw::FileCompareResult result =
        tw::FileCompare(first.c_str(), second.c_str(), tw::kCompareExact);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size * 2));
}

void FileCompare_freadmemcmp(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string& first = EqualFile(size, 0);
  const std::string& second = EqualFile(size, 1);
  static char a[4096], b[4096];
  for (auto _ : state) {
    std::FILE* fa = std::fopen(first.c_str(), "rb");
    std::FILE* fb = std::fopen(second.c_str(), "rb");
    long long position = 0;
    int difference = 0;
    for (;;) {
      const std::size_t na = std::fread(a, 1, sizeof a, fa);
      const std::size_t nb = std::fread(b, 1, sizeof b, fb);
      const int c = std::memcmp(a, b, na < nb ? na : nb);
      if (c != 0 || na != nb || na == 0) {
        difference = c;
        break;
      }
      position += static_cast<long long>(na);
    }
    std::fclose(fa);
    std::fclose(fb);
    benchmark::DoNotOptimize(difference);
    benchmark::DoNotOptimize(position);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size * 2));
}

}  // namespace

TW_BENCH_PER_KERNEL(FileCompare, FileCompare_ours, Sizes);
BENCHMARK(FileCompare_freadmemcmp)->Apply(Sizes);
