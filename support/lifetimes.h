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
// The fatal-error report tidies up through the second registry: the
// families that own storage register what the report must do, so that the
// error family needs to know none of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw {

// A watcher forgets everything it holds that points into [from, to).
using StorageWatcher = void (*)(std::uintptr_t from, std::uintptr_t to);

// Registers a watcher (a second registration of the same one is ignored).
// Families register theirs the first time they take an address they must
// give up later.
void WatchStorage(StorageWatcher watcher);

// The bytes [from, from + bytes) are about to be released or have just been
// overwritten: every registered watcher forgets what points into them.
void ForgetStorage(const void* from, std::size_t bytes);

// What the fatal-error report does with a family's storage: kBeforeReport
// runs before the message is shown (closing the reading slot), kAfterReport
// after it (erasing arrays, releasing pooled blocks), in registration order.
enum class FatalStage { kBeforeReport, kAfterReport };
using FatalTidy = void (*)();
void OnFatalReport(FatalStage stage, FatalTidy tidy);

// Runs the registered tidy-ups of one stage (the fatal-error report).
void TidyForFatalReport(FatalStage stage);

}  // namespace tw
