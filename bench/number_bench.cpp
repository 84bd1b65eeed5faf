// Numbers: FormatNumber at 7 digits (the default precision) beside snprintf
// ("%.7Lg", "%.7g") and std::to_chars (general, 7 digits); ReadNumber beside
// strtold, strtod and std::from_chars, on the same inputs. The argument picks
// an input set; the label names it. Rates are numbers per second.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/numbers.h"
#include "support/parse.h"

namespace {

constexpr int kInputCount = 1024;

const char* const kFormatSetNames[] = {"mixed magnitudes", "integers", "7 digits"};
const char* const kReadSetNames[] = {"7 digits", "integers", "17 digits"};

// Set 0: random significands with magnitudes from 1e-10 to 1e10; set 1:
// whole numbers below a million; set 2: the values of set 0 rounded to 7
// significant digits (the default precision), so that every formatter writes
// the same digits.
const std::vector<double>& Values(int set) {
  static std::vector<double> sets[3];
  std::vector<double>& values = sets[set];
  if (values.empty()) {
    std::mt19937_64 random(42);
    for (int i = 0; i < kInputCount; ++i) {
      if (set == 2) {
        char text[40];
        std::snprintf(text, sizeof text, "%.7g", Values(0)[static_cast<std::size_t>(i)]);
        values.push_back(std::strtod(text, nullptr));
      } else if (set == 0) {
        const double significand = 1.0 + static_cast<double>(random() % 1000000007) / 1000000007.0;
        values.push_back(significand * std::pow(10.0, static_cast<int>(random() % 21) - 10));
      } else {
        values.push_back(static_cast<double>(random() % 1000000));
      }
    }
  }
  return values;
}

// The texts ReadNumber and its peers read: the values of set 0 with 7 or 17
// digits, or the integers.
const std::vector<std::string>& Texts(int set) {
  static std::vector<std::string> sets[3];
  std::vector<std::string>& texts = sets[set];
  if (texts.empty()) {
    const std::vector<double>& values = Values(set == 1 ? 1 : 0);
    for (double value : values) {
      char text[40];
      std::snprintf(text, sizeof text, set == 2 ? "%.17g" : set == 1 ? "%.0f" : "%.7g", value);
      texts.push_back(text);
    }
  }
  return texts;
}

template <typename Format>
void BenchFormat(benchmark::State& state, Format format) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<double>& values = Values(set);
  std::size_t which = 0;
  for (auto _ : state) {
    const double& value = values[which++ & (kInputCount - 1)];
    benchmark::DoNotOptimize(format(value));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetLabel(kFormatSetNames[set]);
}

char g_text[64];

void Format_ours(benchmark::State& state) {
  const std::uint32_t descriptor = tw::OperandGroup(0, tw::kOpFirst, tw::kKindDoublePtr);
  BenchFormat(state, [descriptor](const double& value) {
    return tw::FormatNumber(tw::kFormatFloating, descriptor, {tw::DoubleOperand(&value)});
  });
}
void Format_snprintfLg(benchmark::State& state) {
  BenchFormat(state, [](const double& value) {
    return std::snprintf(g_text, sizeof g_text, "%.7Lg", static_cast<long double>(value));
  });
}
void Format_snprintfg(benchmark::State& state) {
  BenchFormat(state, [](const double& value) {
    return std::snprintf(g_text, sizeof g_text, "%.7g", value);
  });
}
void Format_tochars(benchmark::State& state) {
  BenchFormat(state, [](const double& value) {
    return std::to_chars(g_text, g_text + sizeof g_text, value, std::chars_format::general, 7).ptr;
  });
}

template <typename Read>
void BenchRead(benchmark::State& state, Read read) {
  const int set = static_cast<int>(state.range(0));
  const std::vector<std::string>& texts = Texts(set);
  std::size_t which = 0;
  for (auto _ : state) {
    const std::string& text = texts[which++ & (kInputCount - 1)];
    benchmark::DoNotOptimize(read(text));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetLabel(kReadSetNames[set]);
}

void Read_ours(benchmark::State& state) {
  BenchRead(state, [](const std::string& text) {
    double value;
    tw::ReadNumber(tw::Arg(text.c_str()), tw::Arg(&value), tw::kReadDouble);
    return value;
  });
}
void Read_strtold(benchmark::State& state) {
  BenchRead(state, [](const std::string& text) { return std::strtold(text.c_str(), nullptr); });
}
void Read_strtod(benchmark::State& state) {
  BenchRead(state, [](const std::string& text) { return std::strtod(text.c_str(), nullptr); });
}
void Read_fromchars(benchmark::State& state) {
  BenchRead(state, [](const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  });
}

}  // namespace

BENCHMARK(Format_ours)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Format_snprintfLg)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Format_snprintfg)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Format_tochars)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Read_ours)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Read_strtold)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Read_strtod)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(Read_fromchars)->Arg(0)->Arg(1)->Arg(2);
