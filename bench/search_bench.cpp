// Text search and comparison beside the routines a user would otherwise pick:
// strstr, memmem, std::string_view::find and the Boyer-Moore-Horspool searcher
// for exact search, strcasestr for case-insensitive search, a plain loop for
// whole-word search, strcmp and strcasecmp for comparison. The needle stands at
// the haystack's end, so every search scans the whole haystack; for the
// backward search it stands at the start, beside std::string_view::rfind.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>

#include "bench/bench_sizes.h"
#include "support/search.h"

namespace {

// Lower-case text over a small alphabet (so first characters recur often), with
// a space and the needle's text at the end.
struct SearchData {
  std::string hay;
  std::string needle;
};

SearchData MakeData(std::size_t size, std::size_t needleLength, bool mixedCase) {
  std::mt19937 random(static_cast<unsigned>(size * 31 + needleLength));
  SearchData data;
  data.needle.resize(needleLength);
  for (char& c : data.needle) c = static_cast<char>('a' + random() % 8);
  data.hay.resize(std::max(size, needleLength));
  for (char& c : data.hay) c = static_cast<char>('a' + random() % 8);
  // Break every accidental early match: the byte after the needle's first
  // character never continues it.
  for (std::size_t i = 0; i + 1 < data.hay.size(); ++i) {
    if (data.hay[i] == data.needle[0] && data.hay[i + 1] == data.needle[1]) data.hay[i + 1] = 'z';
  }
  std::copy(data.needle.begin(), data.needle.end(), data.hay.end() - needleLength);
  // A space before the needle makes it a whole word too.
  if (data.hay.size() > needleLength) data.hay[data.hay.size() - needleLength - 1] = ' ';
  if (mixedCase) {
    for (std::size_t i = 0; i < data.hay.size(); i += 2)
      data.hay[i] = static_cast<char>(data.hay[i] - 32);
    for (char& c : data.needle) c = static_cast<char>(c - 32);
  }
  return data;
}

template <typename Search>
void RunSearch(benchmark::State& state, bool mixedCase, Search search) {
  const SearchData data = MakeData(static_cast<std::size_t>(state.range(0)),
                                   static_cast<std::size_t>(state.range(1)), mixedCase);
  for (auto _ : state) {
    const char* found = search(data);
    benchmark::DoNotOptimize(found);
    if (found == nullptr) state.SkipWithError("needle not found");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.hay.size()));
}

void Find_ours(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) {
    return static_cast<const char*>(tw::TextFind(1, d.hay.c_str(), d.needle.c_str(), 0).address);
  });
}
void Find_strstr(benchmark::State& state) {
  RunSearch(state, false,
            [](const SearchData& d) { return std::strstr(d.hay.c_str(), d.needle.c_str()); });
}
void Find_memmem(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) {
    return static_cast<const char*>(
        memmem(d.hay.data(), d.hay.size(), d.needle.data(), d.needle.size()));
  });
}
void Find_string_view(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) {
    const std::size_t at = std::string_view(d.hay).find(d.needle);
    return at == std::string_view::npos ? nullptr : d.hay.data() + at;
  });
}
void Find_horspool(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) {
    const std::boyer_moore_horspool_searcher searcher(d.needle.begin(), d.needle.end());
    const auto at = std::search(d.hay.begin(), d.hay.end(), searcher);
    return at == d.hay.end() ? nullptr : &*at;
  });
}

// The same haystack with the needle moved to its start (and a space after it),
// for the backward search.
SearchData NeedleFirst(SearchData data) {
  const std::size_t n = data.needle.size();
  if (data.hay.size() <= n) return data;
  std::rotate(data.hay.begin(), data.hay.end() - static_cast<std::ptrdiff_t>(n), data.hay.end());
  data.hay[n] = ' ';
  data.hay.back() = 'z';  // the byte before the old needle's place
  return data;
}

template <typename Search>
void RunBackward(benchmark::State& state, Search search) {
  const SearchData data = NeedleFirst(MakeData(static_cast<std::size_t>(state.range(0)),
                                               static_cast<std::size_t>(state.range(1)), false));
  for (auto _ : state) {
    const char* found = search(data);
    benchmark::DoNotOptimize(found);
    if (found != data.hay.data()) state.SkipWithError("needle not found at the start");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.hay.size()));
}

void FindBackward_ours(benchmark::State& state) {
  RunBackward(state, [](const SearchData& d) {
    return static_cast<const char*>(
        tw::TextFind(-1, d.hay.c_str(), d.needle.c_str(), tw::kFindBackward).address);
  });
}
void FindBackward_string_view(benchmark::State& state) {
  RunBackward(state, [](const SearchData& d) {
    const std::size_t at = std::string_view(d.hay).rfind(d.needle);
    return at == std::string_view::npos ? nullptr : d.hay.data() + at;
  });
}

void FindCase_ours(benchmark::State& state) {
  RunSearch(state, true, [](const SearchData& d) {
    return static_cast<const char*>(
        tw::TextFind(1, d.hay.c_str(), d.needle.c_str(), tw::kFindIgnoreCase).address);
  });
}
void FindCase_strcasestr(benchmark::State& state) {
  RunSearch(state, true,
            [](const SearchData& d) { return strcasestr(d.hay.c_str(), d.needle.c_str()); });
}

// A whole-word search as a user would write it: find, then check the neighbours.
const char* WholeWordLoop(const std::string& hay, const std::string& needle) {
  const auto isWord = [](unsigned char c) { return c > 64; };
  for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) {
    const bool before = at == 0 || !isWord(static_cast<unsigned char>(hay[at - 1]));
    const std::size_t end = at + needle.size();
    const bool after = end == hay.size() || !isWord(static_cast<unsigned char>(hay[end]));
    if (before && after) return hay.data() + at;
  }
  return nullptr;
}

void FindWord_ours(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) {
    return static_cast<const char*>(
        tw::TextFind(1, d.hay.c_str(), d.needle.c_str(), tw::kFindWholeWord).address);
  });
}
void FindWord_loop(benchmark::State& state) {
  RunSearch(state, false, [](const SearchData& d) { return WholeWordLoop(d.hay, d.needle); });
}

// Two equal texts (the second in other case for the folding comparisons).
template <typename Compare>
void RunCompare(benchmark::State& state, bool otherCase, Compare compare) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  std::string a(size, 'k');
  std::string b(size, otherCase ? 'K' : 'k');
  for (auto _ : state) {
    int result = compare(a.c_str(), b.c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

void Compare_ours(benchmark::State& state) {
  RunCompare(state, false,
             [](const char* a, const char* b) { return tw::TextCompare(a, b, 0).difference; });
}
void Compare_strcmp(benchmark::State& state) {
  RunCompare(state, false, std::strcmp);
}
void CompareCase_ours(benchmark::State& state) {
  RunCompare(state, true,
             [](const char* a, const char* b) { return tw::TextCompare(a, b, 1).difference; });
}
void CompareCase_strcasecmp(benchmark::State& state) {
  RunCompare(state, true, strcasecmp);
}

void SearchArgs(benchmark::internal::Benchmark* b) {
  for (int needle : {2, 8, 16}) {
    for (int size : {16, 256, 4 << 10, 64 << 10, 16 << 20}) b->Args({size, needle});
  }
}

}  // namespace

TW_BENCH_PER_KERNEL(Find, Find_ours, SearchArgs);
BENCHMARK(Find_strstr)->Apply(SearchArgs);
BENCHMARK(Find_memmem)->Apply(SearchArgs);
BENCHMARK(Find_string_view)->Apply(SearchArgs);
BENCHMARK(Find_horspool)->Apply(SearchArgs);
TW_BENCH_PER_KERNEL(FindBackward, FindBackward_ours, SearchArgs);
BENCHMARK(FindBackward_string_view)->Apply(SearchArgs);
TW_BENCH_PER_KERNEL(FindCase, FindCase_ours, SearchArgs);
BENCHMARK(FindCase_strcasestr)->Apply(SearchArgs);
TW_BENCH_PER_KERNEL(FindWord, FindWord_ours, SearchArgs);
BENCHMARK(FindWord_loop)->Apply(SearchArgs);
TW_BENCH_PER_KERNEL(Compare, Compare_ours, tw_bench::Sizes);
BENCHMARK(Compare_strcmp)->Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(16 << 20);
TW_BENCH_PER_KERNEL(CompareCase, CompareCase_ours, tw_bench::Sizes);
BENCHMARK(CompareCase_strcasecmp)->Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(16 << 20);
