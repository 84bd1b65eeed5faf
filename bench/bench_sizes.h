// The sizes every text benchmark runs at: 16 B to 16 MiB.
#pragma once

#include <benchmark/benchmark.h>

#define TW_BENCH_SIZES(function) \
  BENCHMARK(function)->Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(16 << 20)
