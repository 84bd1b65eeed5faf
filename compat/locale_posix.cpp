// Native case mapping of UTF-16 texts (LCMapStringW) over the C library's wide
// character case tables, in the C.UTF-8 locale so the answer does not depend on
// the user's environment.
#include "compat/win32.h"

#include <locale.h>
#include <wctype.h>

namespace {

locale_t Utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

WCHAR MapUnit(WCHAR unit, bool upper) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;  // surrogates stay as they are
  const locale_t locale = Utf8Locale();
  wint_t mapped;
  if (locale != static_cast<locale_t>(0)) {
    mapped = upper ? towupper_l(unit, locale) : towlower_l(unit, locale);
  } else {
    mapped = upper ? (unit >= 'a' && unit <= 'z' ? unit - 32 : unit)
                   : (unit >= 'A' && unit <= 'Z' ? unit + 32 : unit);
  }
  return mapped > 0xFFFF ? unit : static_cast<WCHAR>(mapped);
}

}  // namespace

int WINAPI LCMapStringW(LCID, DWORD flags, const WCHAR* source, int sourceCount, WCHAR* destination,
                        int destinationSize) {
  const bool upper = (flags & LCMAP_UPPERCASE) != 0;
  if (source == nullptr || (upper == ((flags & LCMAP_LOWERCASE) != 0))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (sourceCount < 0) {
    sourceCount = 0;
    while (source[sourceCount] != 0) ++sourceCount;
    ++sourceCount;
  }
  if (destinationSize == 0) return sourceCount;
  if (destinationSize < sourceCount) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < sourceCount; ++i) destination[i] = MapUnit(source[i], upper);
  return sourceCount;
}
