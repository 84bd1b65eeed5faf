// Fuzz target of the families together: random steps over string arrays 0 to
// 3 (created plain, two-part or with field shapes, erased, assigned whole or
// by field, insert/delete, swapped, sorted, recalled from memory, stored and
// recalled back), assemblies into elements, fields and pooled blocks whose
// pieces are texts at unreadable pages, predefined texts, results by slot
// code and 127 (element and field reads, zero buffers, deferred case
// conversions, substrings), pooled blocks, record arrays and persistent
// copies, with the temporary text area pushed round its wrap.
//
// A model keeps every array's texts, the pool count, which storage each
// result reads and the fatal error a step must raise (7 for a destination
// whose array or field is gone). After each step the arrays, the pool and
// every result must agree with it: a result whose storage was released
// reads as the empty text; one whose area storage the area may have wrapped
// onto reads as its text or the empty text.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/arrays.h"
#include "support/assemble.h"
#include "support/recall.h"
#include "support/sort.h"
#include "support/strings.h"
#include "support/temptext.h"
#include "tools/references.h"

namespace {

constexpr int kArrays = 4;
constexpr int kSlots = tw::kResultSlotCount;
constexpr std::uint64_t kArea = 1ull << 63;  // storage ids of the area carry this bit

// ---- The model ----

// Storage a result or element can read, numbered; released storage goes into
// g_dead. Area storage also keeps the wrap count at its making.
std::uint64_t g_nextId = 1;
std::set<std::uint64_t> g_dead;
std::map<std::uint64_t, int> g_areaWraps;
int g_wraps = 0;
std::uint64_t g_fieldCopy = 0;  // the field copy as it is now

std::uint64_t NewId() {
  return g_nextId++;
}
std::uint64_t NewAreaId() {
  const std::uint64_t id = NewId() | kArea;
  g_areaWraps[id] = g_wraps;
  return id;
}
void Kill(std::uint64_t id) {
  if (id != 0) g_dead.insert(id);
}

struct Element {
  std::string text;
  std::uint64_t id;  // 0 for the empty text
  bool owned;        // released on reassignment (a borrowed line is not)
};

struct ArrayModel {
  enum Kind { kNone, kStrings, kRecords } kind;
  std::int32_t shape;
  std::vector<Element> elements;
  std::uint64_t header;  // origins of results die with it
  std::uint64_t block;   // the text block of recalled lines
  std::int32_t recordSize;
  std::uint64_t recordBlock;  // the pooled block of a record array
};
ArrayModel g_arrays[kArrays];

enum class Life { kAlive, kMaybe, kGone };

struct FieldKey {
  std::uint64_t header;
  int index;
  int field;
  std::uint64_t text;
  bool operator!=(const FieldKey& o) const {
    return header != o.header || index != o.index || field != o.field || text != o.text;
  }
};
FieldKey g_fieldKey = {};
std::uint32_t g_fieldSerial = 0;

// Where the field record's field lies in its element: read from the element,
// or, after an assignment through it, the value written (which may hold
// separators of its own); the separators an assignment must add first for a
// field beyond the last one.
struct FieldSpan {
  std::size_t start;
  std::size_t length;
  int separators;
};
FieldSpan g_fieldSpan = {};

FieldSpan SpanOf(const std::string& text, std::int32_t shape, int field) {
  tw::FieldSpan span;
  if (tw::SelectField(text.data(), static_cast<std::int32_t>(text.size()), shape, field, &span)) {
    return {static_cast<std::size_t>(span.start - text.data()),
            static_cast<std::size_t>(span.length), 0};
  }
  int last = 0;
  while (tw_test::ReferenceField(text, shape, last + 1).has_value()) ++last;
  return {std::min(text.find('\0'), text.size()), 0, field - last};
}

struct SlotModel {
  std::string text;
  std::vector<std::uint64_t> reads;  // storage ids
  bool unknown;                      // bytes not modelled
  bool deferred;                     // a record: read as a source, it is carried out first
  bool zeroBuffer;                   // a 127 item gets one more zero byte
  std::uint64_t header;              // origin: the element's array header, else 0
  int index;
  std::uint32_t fieldSerial;  // 0: no field
};
SlotModel g_slots[kSlots + 1];

struct Pooled {
  std::uint64_t id;
  std::string text;  // what a block holds when it is known
  bool known;
};
std::map<std::uintptr_t, Pooled> g_pool;
std::uintptr_t g_persisted[8];
int g_persistIndex = 0;
std::uint32_t g_allowed = 0;  // the fatal errors the current step may raise

Life LifeOf(const SlotModel& slot) {
  Life life = Life::kAlive;
  for (std::uint64_t id : slot.reads) {
    if (g_dead.count(id) != 0) return Life::kGone;
    if ((id & kArea) != 0 && g_areaWraps[id] != g_wraps) life = Life::kMaybe;
  }
  return life;
}

SlotModel& Newest() {
  return g_slots[tw::CurrentResultSlot()];
}

bool Tracing() {
  static const bool tracing = std::getenv("TW_FUZZ_TRACE") != nullptr;
  return tracing;
}

void SetNewest(const std::string& text, std::vector<std::uint64_t> reads) {
  if (Tracing()) {
    std::fprintf(stderr, "  slot %d := %s\n", tw::CurrentResultSlot(),
                 tw_fuzz::Escaped(text).c_str());
  }
  Newest() = {text, std::move(reads), false, false, false, 0, -1, 0};
}

// ---- Checks ----

std::string ElementTextOf(const tw::ArrayElementEntry& e) {
  if (e.address == 0) return std::string();
  return std::string(reinterpret_cast<const char*>(e.address),
                     static_cast<std::size_t>(e.length < 0 ? -std::int64_t{e.length} : e.length));
}

void CheckArrays(const char* step) {
  for (int a = 0; a < kArrays; ++a) {
    const ArrayModel& m = g_arrays[a];
    tw::ArrayHeader* header = tw::ArrayHeaderOf(a);
    tw::RecordArrayHead* head = tw::RecordArrayHeadOf(a);
    const std::string where = std::string(step) + ", array " + std::to_string(a);
    TW_FUZZ_CHECK((header != nullptr) == (m.kind == ArrayModel::kStrings), where);
    TW_FUZZ_CHECK((head != nullptr) == (m.kind == ArrayModel::kRecords), where);
    if (head != nullptr) TW_FUZZ_CHECK(head->recordSize == m.recordSize, where);
    if (header == nullptr) continue;
    TW_FUZZ_CHECK(header->count == static_cast<std::int32_t>(m.elements.size()), where);
    for (std::size_t i = 0; i < m.elements.size(); ++i) {
      const std::string got = ElementTextOf(tw::ArrayElements(header)[i]);
      if (got != m.elements[i].text) {
        tw_fuzz::Finding("an element differs from the model",
                         where + " element " + std::to_string(i) + ": " + tw_fuzz::Escaped(got) +
                             ", expected " + tw_fuzz::Escaped(m.elements[i].text));
      }
    }
  }
  TW_FUZZ_CHECK(tw::PooledBlockCount() == static_cast<int>(g_pool.size()),
                std::string(step) + ": pool count " + std::to_string(tw::PooledBlockCount()));
}

// What a result reads as, without changing anything (a deferred one is
// produced into a buffer of its own; a zero buffer gives its size in zeros).
std::string Reads(int n) {
  const tw::ResultSlotRecord* slot = tw::ResultSlotAt(n);
  const std::size_t length =
      static_cast<std::size_t>(slot->length < 0 ? -std::int64_t{slot->length} : slot->length);
  if (tw::ResultDeferredRecord(slot) == nullptr) {
    return slot->address == 0 ? std::string()
                              : std::string(reinterpret_cast<const char*>(slot->address), length);
  }
  static char produced[tw::kTempTextMaxBytes];
  const char* end = tw::DeferredMaterialiseWithin(tw::ResultDeferredRecord(slot), produced,
                                                  std::min(length, sizeof produced));
  return std::string(produced, static_cast<std::size_t>(end - produced));
}

void CheckResults(const char* step) {
  for (int n = 1; n <= kSlots; ++n) {
    const SlotModel& m = g_slots[n];
    if (m.unknown) continue;
    const std::string got = Reads(n);
    const Life life = LifeOf(m);
    const bool fine =
        (life != Life::kGone && got == m.text) || (life != Life::kAlive && got.empty());
    if (!fine) {
      tw_fuzz::Finding("a result reads wrong",
                       std::string(step) + ", slot " + std::to_string(n) + " (life " +
                           std::to_string(static_cast<int>(life)) + "): " + tw_fuzz::Escaped(got) +
                           ", expected " + tw_fuzz::Escaped(m.text));
    }
  }
}

// ---- Arrays ----

void KillArray(int a) {
  ArrayModel& m = g_arrays[a];
  Kill(m.header);
  Kill(m.block);
  for (const Element& e : m.elements) {
    if (e.owned) Kill(e.id);
  }
  if (m.kind == ArrayModel::kRecords) {
    for (auto it = g_pool.begin(); it != g_pool.end(); ++it) {
      if (it->second.id != m.recordBlock) continue;
      Kill(it->second.id);
      g_pool.erase(it);
      break;
    }
  }
  m = {};
}

std::string Printable(std::string text) {
  for (char& c : text) c = static_cast<char>((c & 0x7F) == 0 ? 'q' : c & 0x7F);
  return text;
}

void Create(tw_fuzz::Input& in, int a) {
  const int count = 1 + in.Byte() % 6;
  const int form = in.Byte() % 4;
  KillArray(a);
  ArrayModel& m = g_arrays[a];
  if (form == 3) {  // two-part: row width 2, rows count
    tw::ArrayCreate(a, tw::TwoPartIndex(1, static_cast<std::uint32_t>(count - 1)));
    m.shape = 2;
    m.elements.resize(static_cast<std::size_t>(2 * count));
  } else {
    tw::ArrayCreate(a, static_cast<std::uint32_t>(count - 1));
    m.shape = form == 0 ? tw::kShapePlain : form == 1 ? tw::kShapeTabFields : tw::kShapeCommaFields;
    tw::ArrayHeaderOf(a)->shape = m.shape;
    m.elements.resize(static_cast<std::size_t>(count));
  }
  m.kind = ArrayModel::kStrings;
  m.header = NewId();
}

// A field read of element index: the field copy is overwritten.
bool IsFieldArray(const ArrayModel& m) {
  return m.kind == ArrayModel::kStrings && m.shape <= tw::kShapeTabFields;
}

// Reads element (or field) index of array a as the newest result.
void Read(int a, int index, int field) {
  ArrayModel& m = g_arrays[a];
  if (Tracing()) std::fprintf(stderr, "  read %d %d field %d\n", a, index, field);
  g_allowed = tw_fuzz::Allow(7) | tw_fuzz::Allow(6);
  const std::uint32_t word = field >= 0 ? tw::TwoPartIndex(static_cast<std::uint32_t>(index),
                                                           static_cast<std::uint32_t>(field))
                                        : static_cast<std::uint32_t>(index);
  tw::ArrayElement(a, word);
  g_allowed = 0;
  TW_FUZZ_CHECK(m.kind == ArrayModel::kStrings && index < static_cast<int>(m.elements.size()),
                "an element read that should have failed");
  const Element& e = m.elements[static_cast<std::size_t>(index)];
  if (field < 0) {
    SetNewest(e.text, {e.id});
  } else {
    const FieldKey key = {m.header, index, field, e.id};
    if (key != g_fieldKey) ++g_fieldSerial;
    g_fieldKey = key;
    g_fieldSpan = SpanOf(e.text, m.shape, field);
    Kill(g_fieldCopy);
    g_fieldCopy = NewId();
    const auto value = tw_test::ReferenceField(e.text, m.shape, field);
    std::string text = value.value_or(std::string());
    if (text.size() >= tw::kFieldAreaSize) text.resize(tw::kFieldAreaSize - 1);
    SetNewest(text, {g_fieldCopy});
    Newest().fieldSerial = g_fieldSerial;
  }
  Newest().header = m.header;
  Newest().index = index;
}

// ---- Pieces ----

struct Piece {
  tw::StringArg item;
  std::string text;
  Life life;
};

// The newest result as a source: a deferred one is carried out into the area
// first, and the source is then that text.
SlotModel SourceOfNewest() {
  SlotModel source = Newest();
  if (source.deferred) source.reads = {NewAreaId()};
  return source;
}

// A new result for an item 127 of a coming assembly.
void MakeResult(tw_fuzz::Input& in) {
  switch (in.Byte() % 5) {
    case 0: {
      const int a = in.Byte() % kArrays;
      const ArrayModel& m = g_arrays[a];
      if (m.kind != ArrayModel::kStrings || m.elements.empty()) break;
      const int index = static_cast<int>(in.Below(static_cast<std::uint32_t>(m.elements.size())));
      Read(a, index, IsFieldArray(m) && (in.Byte() & 1) != 0 ? in.Byte() % 4 : -1);
      return;
    }
    case 1: {
      const std::int32_t size = 1 + in.Byte() % 40;
      tw::NewZeroText(size);
      SetNewest(std::string(static_cast<std::size_t>(size), '\0'), {NewAreaId()});
      Newest().deferred = Newest().zeroBuffer = true;
      return;
    }
    case 2: {  // case conversion of the newest result
      if (Newest().unknown || LifeOf(Newest()) != Life::kAlive) break;
      SlotModel source = SourceOfNewest();
      const bool upper = (in.Byte() & 1) != 0;
      tw::TextCase(tw::kNewestResult, upper ? tw::kCaseUpper : 0);
      source.reads.push_back(NewAreaId());
      SetNewest(tw_fuzz::CaseReference(source.text, upper), source.reads);
      Newest().deferred = true;
      return;
    }
    case 3: {  // a part of the newest result (of a zero buffer: a zero buffer)
      if (Newest().unknown || LifeOf(Newest()) != Life::kAlive) break;
      const bool zero = Newest().zeroBuffer;
      const SlotModel source = zero ? Newest() : SourceOfNewest();
      const std::int32_t position = 1 + in.Byte() % 8;
      const std::int32_t count = in.Byte() % 8;
      tw::TextMid(tw::kNewestResult, count, position);
      const std::size_t from = std::min(source.text.size(), static_cast<std::size_t>(position - 1));
      const std::string part = count == 0 ? std::string() : source.text.substr(from, count);
      SetNewest(part, zero ? std::vector<std::uint64_t>{NewAreaId()} : source.reads);
      Newest().deferred = Newest().zeroBuffer = zero && !part.empty();
      return;
    }
    default:
      break;
  }
  // A plain temporary text.
  const std::string text = Printable(in.Text(60));
  char* at = tw::TempTextReserve(static_cast<std::uint32_t>(text.size()) + 1);
  std::memcpy(at, text.data(), text.size());
  at[text.size()] = '\0';
  tw::TempTextEnd(at + text.size(), tw::kSlotNext);
  SetNewest(text, {NewAreaId()});
}

// Items in text order: m items 127 take the m newest results (oldest first).
// False when a piece would read bytes the model does not know.
bool MakePieces(tw_fuzz::Input& in, int newest, std::vector<Piece>& pieces) {
  const int count = in.Byte() % 5;
  int taken = 0;
  int pages = 0;  // texts at unreadable pages: four pages, one text each
  for (int i = 0; i < count + newest; ++i) {
    const bool take = taken < newest && (i >= count || (in.Byte() & 1) != 0);
    if (take) {
      const int n = (tw::CurrentResultSlot() - 1 - (newest - 1 - taken) + kSlots) % kSlots + 1;
      const SlotModel& s = g_slots[n];
      if (s.unknown) return false;
      pieces.push_back({tw::kNewestResult, s.zeroBuffer ? s.text + '\0' : s.text, LifeOf(s)});
      ++taken;
      continue;
    }
    switch (in.Byte() % 3) {
      case 0: {
        if (pages == 4) return false;
        const std::string text = Printable(in.Text(40));
        pieces.push_back({tw::Arg(tw_fuzz::GuardedText(pages++, text)), text, Life::kAlive});
        break;
      }
      case 1: {
        const tw::StringArg code = in.Byte() % 8;
        const tw::TextPair pair = tw::PredefinedText(static_cast<int>(code));
        pieces.push_back({code,
                          pair.address == 0
                              ? std::string()
                              : std::string(reinterpret_cast<const char*>(pair.address),
                                            static_cast<std::size_t>(pair.length)),
                          Life::kAlive});
        break;
      }
      default: {
        const int n = 1 + in.Byte() % kSlots;
        const SlotModel& s = g_slots[n];
        if (s.unknown) return false;
        pieces.push_back(
            {tw::kFirstResultCode + static_cast<tw::StringArg>(n - 1), s.text, LifeOf(s)});
        break;
      }
    }
  }
  return true;
}

// Whether got is the pieces' text, each piece that may be gone taken as
// itself or as the empty text.
bool Assembled(const std::vector<Piece>& pieces, const std::string& got, std::size_t at = 0,
               std::size_t from = 0) {
  if (at == pieces.size()) return from == got.size();
  const Piece& p = pieces[at];
  if (p.life != Life::kGone && got.compare(from, p.text.size(), p.text) == 0 &&
      Assembled(pieces, got, at + 1, from + p.text.size())) {
    return true;
  }
  return p.life != Life::kAlive && Assembled(pieces, got, at + 1, from);
}

// The pieces, for a finding.
std::string Describe(const std::vector<Piece>& pieces) {
  std::string out = " pieces";
  for (const Piece& p : pieces) {
    out += " " + std::to_string(p.item > tw::kNewestResult ? 999 : p.item) + ":" +
           tw_fuzz::Escaped(p.text) + "/" + std::to_string(static_cast<int>(p.life));
  }
  return out;
}

std::vector<tw::StringArg> Items(const std::vector<Piece>& pieces) {
  std::vector<tw::StringArg> items;
  for (const Piece& p : pieces) items.push_back(p.item);
  return items;
}

// ---- Steps ----

// The element a field assignment leaves: the old text before the field (and
// the separators a field beyond the last one needs), a value the pieces
// make, and the old text after the field. The field record then describes
// the value written.
void CheckFieldAssignment(const std::string& old, std::int32_t shape,
                          const std::vector<Piece>& pieces, const std::string& now) {
  const FieldSpan span = g_fieldSpan;
  const std::string before =
      old.substr(0, span.start) + std::string(static_cast<std::size_t>(span.separators),
                                              shape == tw::kShapeTabFields ? '\t' : ',');
  const std::string after = old.substr(span.start + span.length);
  const bool fits =
      now.size() >= before.size() + after.size() && now.compare(0, before.size(), before) == 0 &&
      now.compare(now.size() - after.size(), after.size(), after) == 0 &&
      Assembled(pieces, now.substr(before.size(), now.size() - before.size() - after.size()));
  if (!fits) {
    tw_fuzz::Finding("a field assignment", "field " + std::to_string(g_fieldKey.field) + " of " +
                                               tw_fuzz::Escaped(old) + " gave " +
                                               tw_fuzz::Escaped(now) + Describe(pieces));
  }
  g_fieldSpan = {before.size(), now.size() - before.size() - after.size(), 0};
}

// An element (or field) destination, m results, then the assembly.
void Assign(tw_fuzz::Input& in) {
  const int a = in.Byte() % kArrays;
  if (g_arrays[a].kind != ArrayModel::kStrings || g_arrays[a].elements.empty()) return;
  const int index =
      static_cast<int>(in.Below(static_cast<std::uint32_t>(g_arrays[a].elements.size())));
  Read(a, index, IsFieldArray(g_arrays[a]) && (in.Byte() & 1) != 0 ? in.Byte() % 5 : -1);
  const int newest = in.Byte() % 3;
  for (int i = 0; i < newest; ++i) MakeResult(in);
  std::vector<Piece> pieces;
  if (!MakePieces(in, newest, pieces) || pieces.size() > 29) return;
  // The destination is the result before the newest taken (a result made in
  // the place of the newest may have replaced the element read).
  const SlotModel d = g_slots[(tw::CurrentResultSlot() - 1 - newest + 2 * kSlots) % kSlots + 1];
  // The destination as the library will see it: its array still there, and
  // for a field, the field record still describing it.
  ArrayModel* owner = nullptr;
  for (ArrayModel& each : g_arrays) {
    if (each.kind == ArrayModel::kStrings && each.header == d.header) owner = &each;
  }
  bool valid = owner != nullptr;
  if (valid && d.fieldSerial != 0) {
    valid = d.fieldSerial == g_fieldSerial && g_fieldKey.header == d.header &&
            owner->elements[static_cast<std::size_t>(g_fieldKey.index)].id == g_fieldKey.text;
  }
  g_allowed = valid ? 0 : tw_fuzz::Allow(7);
  const std::vector<tw::StringArg> items = Items(pieces);
  tw::TextAssembleList(tw::kAssembleToElement, items.data(), static_cast<int>(items.size()), 0);
  TW_FUZZ_CHECK(valid, "an assignment to a destination that is gone did not fail");
  g_allowed = 0;
  const int number = static_cast<int>(owner - g_arrays);
  const int at = d.fieldSerial != 0 ? g_fieldKey.index : d.index;
  Element& e = owner->elements[static_cast<std::size_t>(at)];
  const std::string now = ElementTextOf(tw::ArrayElements(tw::ArrayHeaderOf(number))[at]);
  if (d.fieldSerial != 0) {
    CheckFieldAssignment(e.text, owner->shape, pieces, now);
    Kill(g_fieldCopy);
    g_fieldCopy = NewId();
  } else if (!Assembled(pieces, now)) {
    tw_fuzz::Finding("an assigned element", tw_fuzz::Escaped(now) + Describe(pieces));
  }
  if (e.owned) Kill(e.id);
  e = {now, now.empty() ? 0 : NewId(), !now.empty()};
  if (d.fieldSerial != 0) g_fieldKey.text = e.id;
}

// At the last access: n = 0 empties the element in place; an insert, or a
// delete that leaves an element, moves the elements to a new header.
void InsertDelete(tw_fuzz::Input& in) {
  const int a = in.Byte() % kArrays;
  ArrayModel& m = g_arrays[a];
  if (m.kind != ArrayModel::kStrings || m.elements.empty()) return;
  const int index = static_cast<int>(in.Below(static_cast<std::uint32_t>(m.elements.size())));
  Read(a, index, -1);
  const int n = static_cast<int>(in.Byte() % 3) - 1;
  tw::ArrayInsertDelete(n);
  const auto at = m.elements.begin() + index;
  if (n < 0 && m.elements.size() == 1) return;
  if (n <= 0 && at->owned) Kill(at->id);
  if (n == 0) {
    *at = {};
    return;
  }
  if (n > 0) {
    m.elements.insert(at, Element{});
  } else {
    m.elements.erase(at);
  }
  Kill(m.header);
  m.header = NewId();
}

void RecallInto(tw_fuzz::Input& in, int a, const std::string& raw) {
  const std::string text = tw_fuzz::UpToZero(raw);
  const bool lineFeeds = (in.Byte() & 3) == 0;
  const bool wide = text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
  const tw_test::Lines lines =
      tw_test::ReferenceLines(wide ? tw_test::ReferenceUtf8(text) : text, lineFeeds);
  tw::Recall(tw::kRecallText, a, tw::Arg(tw_fuzz::GuardedText(0, text)),
             lineFeeds ? tw::kRecallLineFeeds : 0);
  KillArray(a);
  KillArray(0);
  ArrayModel& m = g_arrays[a];
  m.kind = ArrayModel::kStrings;
  m.header = NewId();
  m.block = NewId();
  for (const std::string& line : lines) m.elements.push_back({line, m.block, false});
}

void StoreAndRecall(tw_fuzz::Input& in) {
  const int a = in.Byte() % kArrays;
  const int b = 1 + in.Byte() % (kArrays - 1);
  if (g_arrays[a].kind != ArrayModel::kStrings) return;
  static const std::string path =
      std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
      "/fuzz-families-store.txt";
  tw::Store(tw::StoreName(path.c_str()), a, -1);
  for (auto& id : g_areaWraps) Kill(id.first);  // the area was the output buffer
  std::string stored;
  std::size_t last = g_arrays[a].elements.size();
  while (last > 0 && g_arrays[a].elements[last - 1].text.empty()) --last;
  for (std::size_t i = 0; i < last; ++i) stored += g_arrays[a].elements[i].text + "\r\n";
  tw::Recall(tw::RecallName(path.c_str()), b, 0, 0);
  const tw_test::Lines lines = tw_test::ReferenceLines(stored, false);
  KillArray(b);
  KillArray(0);
  ArrayModel& m = g_arrays[b];
  m.kind = ArrayModel::kStrings;
  m.header = NewId();
  m.block = NewId();
  for (const std::string& line : lines) m.elements.push_back({line, m.block, false});
}

void Sort(tw_fuzz::Input& in) {
  const int a = in.Byte() % kArrays;
  ArrayModel& m = g_arrays[a];
  if (m.kind != ArrayModel::kStrings) return;
  std::map<std::uintptr_t, Element> byAddress;
  tw::ArrayElementEntry* entries = tw::ArrayElements(tw::ArrayHeaderOf(a));
  for (std::size_t i = 0; i < m.elements.size(); ++i) byAddress[entries[i].address] = m.elements[i];
  const bool down = (in.Byte() & 1) != 0 && a != 0;  // -0 sorts array 0 ascending
  tw::StringArraySort(down ? -a : a, 0);
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    m.elements[i] = byAddress[entries[i].address];
    if (i == 0) continue;
    const int order = tw::CompareFolded(m.elements[i - 1].text.c_str(), m.elements[i].text.c_str());
    TW_FUZZ_CHECK(down ? order >= 0 : order <= 0, "sorted order");
  }
}

// A pooled block released by the program or the library: views of it go,
// and a persistent copy's place no longer holds it.
void ReleasedBlock(std::uintptr_t block) {
  const auto it = g_pool.find(block);
  if (it == g_pool.end()) return;
  Kill(it->second.id);
  for (ArrayModel& m : g_arrays) {
    if (m.kind == ArrayModel::kRecords && m.recordBlock == it->second.id) m = {};
  }
  for (std::uintptr_t& place : g_persisted) {
    if (place == block) place = 0;
  }
  g_pool.erase(it);
}

void ToNewBlock(tw_fuzz::Input& in) {
  const int newest = in.Byte() % 3;
  for (int i = 0; i < newest; ++i) MakeResult(in);
  std::vector<Piece> pieces;
  if (!MakePieces(in, newest, pieces) || pieces.size() > 28 || g_pool.size() >= tw::TwHeapStrings) {
    return;
  }
  std::uintptr_t old = 0;
  if (!g_pool.empty() && (in.Byte() & 1) != 0) {
    old = std::next(g_pool.begin(), in.Below(static_cast<std::uint32_t>(g_pool.size())))->first;
  }
  const std::vector<tw::StringArg> items = Items(pieces);
  const std::uintptr_t block = tw::TextAssembleList(tw::kAssembleToNewBlock, items.data(),
                                                    static_cast<int>(items.size()), old);
  ReleasedBlock(old);
  // The text's length is known when no piece may be gone.
  std::string expected;
  bool known = true;
  for (const Piece& p : pieces) {
    known = known && p.life != Life::kMaybe;
    if (p.life == Life::kAlive) expected += p.text;
  }
  const char* text = reinterpret_cast<const char*>(block);
  if (known) {
    TW_FUZZ_CHECK(std::string(text, expected.size()) == expected && text[expected.size()] == '\0',
                  "a pooled block's text " + tw_fuzz::Escaped(std::string(text, expected.size())) +
                      ", expected " + tw_fuzz::Escaped(expected));
  }
  g_pool[block] = {NewId(), known ? expected : std::string(), known};
}

void Pool(tw_fuzz::Input& in) {
  const bool room = g_pool.size() < tw::TwHeapStrings;
  switch (in.Byte() % 5) {
    case 0:
      if (!room) return;
      g_pool[reinterpret_cast<std::uintptr_t>(tw::BlockAllocate(1 + in.Byte(), 0))] = {NewId(), "",
                                                                                       false};
      return;
    case 1: {
      if (g_pool.empty()) return;
      const std::uintptr_t block =
          std::next(g_pool.begin(), in.Below(static_cast<std::uint32_t>(g_pool.size())))->first;
      tw::BlockRelease(block);
      ReleasedBlock(block);
      return;
    }
    case 2:
      tw::BlockRelease(tw::kEveryBlock);
      while (!g_pool.empty()) ReleasedBlock(g_pool.begin()->first);
      return;
    case 3: {  // a persistent copy of the newest result, and a view of it
      const SlotModel source = Newest();
      if (!room || source.unknown || LifeOf(source) == Life::kMaybe) return;
      char* copy = tw::ResultPersist();
      const std::string text = LifeOf(source) == Life::kGone ? std::string() : source.text;
      TW_FUZZ_CHECK(std::string(copy, text.size()) == text,
                    "a persistent copy " + tw_fuzz::Escaped(copy));
      g_persistIndex = g_persistIndex % 7 + 1;
      ReleasedBlock(g_persisted[g_persistIndex]);
      const auto address = reinterpret_cast<std::uintptr_t>(copy);
      g_persisted[g_persistIndex] = address;
      g_pool[address] = {NewId(), text, true};
      tw::TextMid(tw::Arg(copy), -1, 1);
      SetNewest(std::string(copy), {g_pool[address].id});
      return;
    }
    default: {  // a record array
      const int a = in.Byte() % kArrays;
      if (!room) return;
      KillArray(a);
      const std::int32_t size = 1 + in.Byte() % 16;
      tw::RecordArrayCreate(a, size, 3);
      ArrayModel& m = g_arrays[a];
      m.kind = ArrayModel::kRecords;
      m.recordSize = size;
      m.recordBlock = NewId();
      g_pool[reinterpret_cast<std::uintptr_t>(tw::RecordArrayHeadOf(a))] = {m.recordBlock, "",
                                                                            false};
      return;
    }
  }
}

void CopyRecord(tw_fuzz::Input& in) {
  const int a = in.Byte() % kArrays;
  g_allowed = g_arrays[a].kind == ArrayModel::kRecords ? 0 : tw_fuzz::Allow(7);
  tw::RecordCopy(in.Byte() % 4, in.Byte() % 4, a);
  TW_FUZZ_CHECK(g_allowed == 0, "a record copy in an array that is gone did not fail");
}

// Pushes the area's free position on by up to 150,000 bytes (a text whose
// bytes are not modelled), so that the area wraps within a few steps.
void Skip(tw_fuzz::Input& in) {
  const std::uint32_t bytes = 1000 + in.Below(150000);
  char* at = tw::TempTextReserve(bytes + 1);
  at[bytes] = '\0';
  tw::TempTextEnd(at + bytes, tw::kSlotNext);
  SetNewest("", {});
  Newest().unknown = true;
}

void ResetModel() {
  for (int a = 0; a < kArrays; ++a) tw::ArrayErase(a);
  tw::BlockRelease(tw::kEveryBlock);
  g_dead.clear();
  g_areaWraps.clear();
  g_pool.clear();
  for (auto& m : g_arrays) m = {};
  for (auto& s : g_slots) s = {"", {}, true, false, false, 0, -1, 0};
  for (auto& p : g_persisted) p = 0;
  g_persistIndex = 0;
  g_fieldKey = {};
  g_fieldSpan = {};
  g_fieldCopy = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(g_allowed);
  ResetModel();
  tw_fuzz::Input in(data, size);
  const char* const names[] = {"create", "erase", "read",  "assign", "insert", "swap",   "recall",
                               "store",  "sort",  "block", "pool",   "record", "result", "skip"};
  for (int step = 0; step < 40 && !in.Empty(); ++step) {
    const int kind = in.Byte() % 14;
    if (Tracing()) std::fprintf(stderr, "step %d: %s\n", step, names[kind]);
    char* const before = tw::TempTextBegin();
    switch (kind) {
      case 0:
        Create(in, in.Byte() % kArrays);
        break;
      case 1: {
        const int a = in.Byte() % (kArrays + 1) - 1;
        tw::ArrayErase(a);
        for (int each = 0; each < kArrays; ++each) {
          if (a == -1 || a == each) KillArray(each);
        }
        break;
      }
      case 2: {
        const int a = in.Byte() % kArrays;
        const ArrayModel& m = g_arrays[a];
        const int index = in.Byte() % 8;
        const bool expected =
            m.kind == ArrayModel::kStrings && index < static_cast<int>(m.elements.size());
        if (!expected) {
          g_allowed = tw_fuzz::Allow(6) | tw_fuzz::Allow(7);
          tw::ArrayElement(a, static_cast<std::uint32_t>(index));
          tw_fuzz::Finding("a read outside the arrays did not fail", std::to_string(a));
        }
        Read(a, index, IsFieldArray(m) && (in.Byte() & 1) != 0 ? in.Byte() % 4 : -1);
        break;
      }
      case 3:
        Assign(in);
        break;
      case 4:
        InsertDelete(in);
        break;
      case 5: {
        const int a = in.Byte() % kArrays, b = in.Byte() % kArrays;
        tw::ArraySwap(a, b);
        std::swap(g_arrays[a], g_arrays[b]);
        break;
      }
      case 6:
        RecallInto(in, 1 + in.Byte() % (kArrays - 1), in.Text(300));
        break;
      case 7:
        StoreAndRecall(in);
        break;
      case 8:
        Sort(in);
        break;
      case 9:
        ToNewBlock(in);
        break;
      case 10:
        Pool(in);
        break;
      case 11:
        CopyRecord(in);
        break;
      case 12:
        MakeResult(in);
        break;
      default:
        Skip(in);
        break;
    }
    if (tw::TempTextBegin() < before) ++g_wraps;
    CheckArrays(names[kind]);
    CheckResults(names[kind]);
  }
  ResetModel();
  return 0;
}
