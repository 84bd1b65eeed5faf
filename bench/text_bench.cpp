// Text length: TextLengthSse2 and TextLength (per kernel set) beside strlen and
// a byte loop.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/bench_sizes.h"
#include "trace/text.h"

namespace {

std::size_t ByteLoopLength(const char* text) {
  const char* p = text;
  while (*p != '\0') {
    benchmark::DoNotOptimize(p);
    ++p;
  }
  return static_cast<std::size_t>(p - text);
}

template <typename Length>
void BenchLength(benchmark::State& state, Length length) {
  // Four texts of the same size at different alignments, as callers hand them over.
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  std::string storage(4 * (size + 16), 'x');
  const char* texts[4];
  for (std::size_t i = 0; i < 4; ++i) {
    char* text = storage.data() + i * (size + 16) + i * 5;
    text[size] = '\0';
    texts[i] = text;
  }
  std::size_t total = 0;
  unsigned which = 0;
  for (auto _ : state) {
    const char* text = texts[which++ & 3];
    benchmark::DoNotOptimize(text);
    total += length(text);
  }
  benchmark::DoNotOptimize(total);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

void TextLength_ours(benchmark::State& state) {
  BenchLength(state, tw::TextLengthSse2);
}
void TextLengthWords_ours(benchmark::State& state) {
  BenchLength(state, tw::TextLength);
}
void TextLength_strlen(benchmark::State& state) {
  BenchLength(state, [](const char* text) { return std::strlen(text); });
}
void TextLengthWords_strlen(benchmark::State& state) {
  BenchLength(state, [](const char* text) { return std::strlen(text); });
}
void TextLength_byteloop(benchmark::State& state) {
  BenchLength(state, ByteLoopLength);
}

}  // namespace

TW_BENCH_PER_KERNEL(TextLength, TextLength_ours, tw_bench::Sizes);
TW_BENCH_SIZES(TextLength_strlen);
TW_BENCH_SIZES(TextLength_byteloop);
TW_BENCH_PER_KERNEL(TextLengthWords, TextLengthWords_ours, tw_bench::Sizes);
TW_BENCH_SIZES(TextLengthWords_strlen);
