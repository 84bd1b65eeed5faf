// Storage lifetimes: the watcher registry, the slow way of ForgetStorage and
// the quiet window of storage written in order, and the tidy-ups of the
// fatal-error report.
#include "support/lifetimes.h"

namespace tw {

namespace lifetimes_detail {
QuietWindow g_quiet = {0, 0};
}  // namespace lifetimes_detail

namespace {

using lifetimes_detail::g_quiet;

// Few families hold addresses (the ring, the arrays, an assembly in
// progress); the tables leave room for more.
constexpr int kMaxWatchers = 8;
constexpr int kMaxTidyUps = 8;

struct Watchers {
  StorageWatcher entries[kMaxWatchers];
  int count;
  std::uintptr_t inOrderBegin;  // the storage written in order
  std::uintptr_t inOrderEnd;
};

struct TidyUps {
  FatalTidy entries[2][kMaxTidyUps];
  int count[2];
};

Watchers g_watchers = {};
TidyUps g_tidyUps = {};

// After a write at from..to of the storage written in order, the window runs
// from its end to the first watched byte after it.
void OpenWindowAfter(std::uintptr_t to) {
  std::uintptr_t lowest = g_watchers.inOrderEnd;
  for (int i = 0; i < g_watchers.count; ++i) {
    const StorageWatcher& watcher = g_watchers.entries[i];
    if (watcher.lowest == nullptr) continue;
    const std::uintptr_t first = watcher.lowest(to, g_watchers.inOrderEnd);
    if (first < lowest) lowest = first;
  }
  g_quiet = {to, lowest > to ? lowest : to};
}

}  // namespace

namespace lifetimes_detail {

void ForgetStorageSlowly(std::uintptr_t from, std::uintptr_t to) {
  for (int i = 0; i < g_watchers.count; ++i) g_watchers.entries[i].forget(from, to);
  if (from >= g_watchers.inOrderBegin && to <= g_watchers.inOrderEnd) OpenWindowAfter(to);
}

}  // namespace lifetimes_detail

void WatchStorage(const StorageWatcher& watcher) {
  for (int i = 0; i < g_watchers.count; ++i) {
    if (g_watchers.entries[i].forget == watcher.forget) return;
  }
  if (g_watchers.count == kMaxWatchers) return;
  g_watchers.entries[g_watchers.count++] = watcher;
  // What the new watcher holds is not known to the window.
  g_quiet = {0, 0};
}

void SetStorageWrittenInOrder(const void* begin, std::size_t bytes) {
  g_watchers.inOrderBegin = reinterpret_cast<std::uintptr_t>(begin);
  g_watchers.inOrderEnd = g_watchers.inOrderBegin + bytes;
  g_quiet = {0, 0};
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
