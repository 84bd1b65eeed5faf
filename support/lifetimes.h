// Storage lifetimes: the one routine through which every release or overwrite
// of the library's storage passes, and the two small registries it serves.
//
// Results of the ring, deferred records, assembly pieces in progress, the
// field record and the array table hold addresses of storage that other
// routines release (element texts, text blocks, array headers, record arrays,
// pooled blocks) or overwrite (the temporary text area, the field copy). No
// holder finds out by itself: the family that releases or overwrites storage
// calls ForgetStorage with the range first, and every family that holds
// addresses has registered a watcher that forgets whatever points into it.
// A forgotten result reads as the empty text; a forgotten element or field
// destination is fatal error 7 when it is assigned (docs/strings.md).
//
// The temporary text area is written in order, from its free position up,
// and most of its writes land where nothing is watched: for such storage a
// quiet window (a range known to hold no watched byte) lets a write pass with
// two compares. Watchers keep the window true by reporting every range they
// take (NoteWatched).
//
// The fatal-error report tidies up through the second registry: the
// families that own storage register what the report must do, so that the
// error family needs to know none of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// A watcher: forget everything it holds that points into [from, to); and
// (may be null for a watcher that never holds storage written in order) the
// lowest start of its ranges that end after at and start before end, or
// UINTPTR_MAX.
struct StorageWatcher {
  void (*forget)(std::uintptr_t from, std::uintptr_t to);
  std::uintptr_t (*lowest)(std::uintptr_t at, std::uintptr_t end);
};

// Registers a watcher (a second registration of the same one is ignored).
// Families register theirs the first time they take an address they must
// give up later.
void WatchStorage(const StorageWatcher& watcher);

// Storage that is written in order, from low addresses up, and starts again
// at its beginning (the temporary text area).
void SetStorageWrittenInOrder(const void* begin, std::size_t bytes);

namespace lifetimes_detail {
struct QuietWindow {
  std::uintptr_t from;
  std::uintptr_t to;  // from == to: no window
};
extern QuietWindow g_quiet;
void ForgetStorageSlowly(std::uintptr_t from, std::uintptr_t to);
}  // namespace lifetimes_detail

// The bytes [from, from + bytes) are about to be released or have just been
// overwritten: every registered watcher forgets what points into them.
inline void ForgetStorage(const void* from, std::size_t bytes) {
  const auto begin = reinterpret_cast<std::uintptr_t>(from);
  const std::uintptr_t end = begin + bytes < begin ? UINTPTR_MAX : begin + bytes;
  lifetimes_detail::QuietWindow& quiet = lifetimes_detail::g_quiet;
  if (begin >= quiet.from && end <= quiet.to) {
    quiet.from = end;  // the next write in order starts after this one
    return;
  }
  lifetimes_detail::ForgetStorageSlowly(begin, end);
}

// A watcher has taken [from, to): the quiet window must not cover it.
inline void NoteWatched(std::uintptr_t from, std::uintptr_t to) {
  lifetimes_detail::QuietWindow& quiet = lifetimes_detail::g_quiet;
  if (to <= quiet.from || from >= quiet.to) return;
  quiet.to = from > quiet.from ? from : quiet.from;
}

// What the fatal-error report does with a family's storage: kBeforeReport
// runs before the message is shown (closing the reading slot), kAfterReport
// after it (erasing arrays, releasing pooled blocks), in registration order.
enum class FatalStage { kBeforeReport, kAfterReport };
using FatalTidy = void (*)();
void OnFatalReport(FatalStage stage, FatalTidy tidy);

// Runs the registered tidy-ups of one stage (the fatal-error report).
void TidyForFatalReport(FatalStage stage);

}  // namespace tw
