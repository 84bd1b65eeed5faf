// Storage lifetimes: the watcher registry and ForgetStorage, and the tidy-ups
// of the fatal-error report.
#include "support/lifetimes.h"

namespace tw {

namespace {

// Few families hold addresses (the ring, the arrays, an assembly in
// progress); the tables leave room for more.
constexpr int kMaxWatchers = 8;
constexpr int kMaxTidyUps = 8;

struct Watchers {
  StorageWatcher entries[kMaxWatchers];
  int count;
};

struct TidyUps {
  FatalTidy entries[2][kMaxTidyUps];
  int count[2];
};

Watchers g_watchers = {};
TidyUps g_tidyUps = {};

}  // namespace

void WatchStorage(StorageWatcher watcher) {
  for (int i = 0; i < g_watchers.count; ++i) {
    if (g_watchers.entries[i] == watcher) return;
  }
  if (g_watchers.count < kMaxWatchers) g_watchers.entries[g_watchers.count++] = watcher;
}

void ForgetStorage(const void* from, std::size_t bytes) {
  if (bytes == 0) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(from);
  const std::uintptr_t end = begin + bytes < begin ? UINTPTR_MAX : begin + bytes;
  for (int i = 0; i < g_watchers.count; ++i) g_watchers.entries[i](begin, end);
}

void OnFatalReport(FatalStage stage, FatalTidy tidy) {
  const int s = static_cast<int>(stage);
  for (int i = 0; i < g_tidyUps.count[s]; ++i) {
    if (g_tidyUps.entries[s][i] == tidy) return;
  }
  if (g_tidyUps.count[s] < kMaxTidyUps) g_tidyUps.entries[s][g_tidyUps.count[s]++] = tidy;
}

void TidyForFatalReport(FatalStage stage) {
  const int s = static_cast<int>(stage);
  for (int i = 0; i < g_tidyUps.count[s]; ++i) g_tidyUps.entries[s][i]();
}

}  // namespace tw
