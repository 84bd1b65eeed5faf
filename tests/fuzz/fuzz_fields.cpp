// Fuzz target of field selection and element access: a text from the input
// becomes an element of a tab or comma array, once owned and once borrowed
// from a text that ends against an unreadable page, and a field (or any
// index) is read with ArrayElement and SelectField. Every field is compared
// with a small reference written as a character-by-character state machine;
// the field record, the cut to the field area and the result's origin are
// checked. An index outside the array may raise fatal error 6.
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/arrays.h"
#include "support/errors.h"
#include "support/strings.h"
#include "tools/references.h"

namespace {

using tw_test::ReferenceField;

void CheckField(int element, int fieldNumber, std::int32_t shape, const std::string& text) {
  const std::optional<std::string> expected = ReferenceField(text, shape, fieldNumber);
  std::string wanted = expected.value_or("");
  if (wanted.size() > tw::kFieldAreaSize - 1) wanted.resize(tw::kFieldAreaSize - 1);
  const tw::ElementText got =
      tw::ArrayElement(1, tw::TwoPartIndex(static_cast<std::uint32_t>(element),
                                           static_cast<std::uint32_t>(fieldNumber)));
  const std::string detail = tw_fuzz::Escaped(text) + " shape " + std::to_string(shape) +
                             " field " + std::to_string(fieldNumber);
  TW_FUZZ_CHECK(got.length >= 0 && got.length < tw::kFieldAreaSize, detail);
  TW_FUZZ_CHECK(std::string(got.text, static_cast<std::size_t>(got.length)) == wanted, detail);
  TW_FUZZ_CHECK(got.text[got.length] == '\0', detail);
  const tw::FieldRecord& record = tw::ArrayFieldRecord();
  tw::ArrayElementEntry* entry = tw::ArrayElements(tw::ArrayHeaderOf(1)) + element;
  TW_FUZZ_CHECK(record.elementEntry == entry, detail);
  const std::string inElement(record.fieldStart, static_cast<std::size_t>(record.fieldLength));
  TW_FUZZ_CHECK(inElement == expected.value_or(""), detail);
  const tw::ResultSlotRecord* slot = tw::ResultSlotAt(tw::CurrentResultSlot());
  TW_FUZZ_CHECK(tw::ResultOrigin(slot) == reinterpret_cast<std::uintptr_t>(entry), detail);
  tw::FieldSpan span = {};
  const bool found = tw::SelectField(text.data(), static_cast<std::int32_t>(text.size()), shape,
                                     fieldNumber, &span);
  TW_FUZZ_CHECK(found == expected.has_value(), detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) {
    return tw_fuzz::AfterFatalError(tw_fuzz::Allow(tw::kErrorCountTooHigh));
  }
  tw_fuzz::Input in(data, size);
  const std::uint8_t selector = in.Byte();
  const std::int32_t shape =
      (selector & 1) != 0 ? tw::kShapeTabFields : tw::kShapeCommaFields - (selector >> 1);
  const int fieldNumber = in.Byte();
  const std::uint32_t anyIndex = in.Word();
  // Static: a fatal error jumps back over this frame, which must hold no
  // object that owns memory.
  static std::string text;
  text = in.Rest();
  if (text.size() > tw_fuzz::kGuardedTextLimit) text.resize(tw_fuzz::kGuardedTextLimit);

  tw::ArrayHeader* header = tw::ArrayCreate(1, 1);
  header->shape = shape;
  tw::ElementAssign(tw::ArrayElements(header), text.data(), static_cast<std::int32_t>(text.size()));
  // The borrowed copy's zero is the last readable byte: reading past the
  // element's length would fault.
  const char* guarded = tw_fuzz::GuardedText(0, text);
  tw::ArrayElements(header)[1] = {reinterpret_cast<std::uintptr_t>(guarded),
                                  -static_cast<std::int32_t>(text.size())};
  CheckField(0, fieldNumber, shape, text);
  CheckField(1, fieldNumber, shape, text);
  // Any index: an element, a field, or fatal error 6.
  const tw::ElementText got = tw::ArrayElement(1, anyIndex);
  TW_FUZZ_CHECK(got.text != nullptr, std::to_string(anyIndex));
  tw::ArrayElements(header)[1] = {};
  tw::ArrayErase(1);
  return 0;
}
