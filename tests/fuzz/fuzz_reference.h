// Small references of the fuzz targets, written from the user documentation
// (docs/search.md, docs/strings.md, docs/files.md): plain and slow, so that a
// target can compare the library's result with them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "compat/win32.h"

namespace tw_fuzz {

// The text a NUL-terminated argument names: its bytes up to the first zero.
inline std::string UpToZero(const std::string& bytes) {
  return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

// ---- TextFind over bytes ----

// Whether needle matches hay at q under mode bits 1 (fold every byte), 2 (fold
// the first byte) and 4 (whole word). A one-byte needle matches exactly.
inline bool FindMatchAt(const std::string& hay, const std::string& needle, std::size_t q,
                        std::uint32_t mode) {
  const std::size_t n = needle.size();
  if (q + n > hay.size()) return false;
  const bool one = n == 1;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned fold = 0;
    if (!one && (mode & 1)) fold = 32;
    if (!one && i == 0 && (mode & 2)) fold = 32;
    if ((static_cast<unsigned char>(hay[q + i]) | fold) !=
        (static_cast<unsigned char>(needle[i]) | fold)) {
      return false;
    }
  }
  if (!one && (mode & 4) && static_cast<unsigned char>(needle[0]) > 32) {
    if (q + n < hay.size() && static_cast<unsigned char>(hay[q + n]) > 64) return false;
    if (q > 0 && static_cast<unsigned char>(hay[q - 1]) > 64) return false;
  }
  return true;
}

// The position (or count) TextFind gives for an 8-bit search; last is the
// position of the previous search (LastFindPosition) and becomes this one's.
inline std::int32_t FindReference(std::int32_t start, const std::string& hay,
                                  const std::string& needle, std::uint32_t mode,
                                  std::int32_t& last) {
  const std::int64_t length = static_cast<std::int64_t>(hay.size());
  std::int32_t result = 0;
  if (needle.empty()) {
    result = 0;
  } else if (mode & 64) {
    const std::int64_t before = start > 0 ? start : start == 0 ? last : length + 1;
    const bool one = needle.size() == 1;
    std::int64_t q = one ? before - 2 : std::min(before - 3, length - 2);
    if (before > length + 1) q = -1;
    std::int32_t count = 0;
    for (; q >= 0; --q) {
      if (!FindMatchAt(hay, needle, static_cast<std::size_t>(q), mode)) continue;
      if (!(mode & 32) || one) {
        count = static_cast<std::int32_t>(q + 1);
        break;
      }
      ++count;
    }
    result = count;
  } else {
    const std::int64_t from = start > 0 ? start - 1 : start == 0 ? last : 0;
    std::int32_t count = 0;
    for (std::int64_t q = from; q <= length; ++q) {
      if (!FindMatchAt(hay, needle, static_cast<std::size_t>(q), mode)) continue;
      if (!(mode & 32)) {
        count = static_cast<std::int32_t>(q + 1);
        break;
      }
      ++count;
    }
    result = count;
  }
  last = result;
  return result;
}

// ---- String functions ----

// The produced length of TextSubstitute, without building it (may pass 2^32).
inline std::int64_t SubstituteLength(const std::string& source, const std::string& pattern,
                                     const std::string& replacement, std::uint32_t options,
                                     std::int64_t* matches = nullptr) {
  const std::uint32_t mode = options & 7;
  const std::uint32_t limit = (options >> 8) & 0xFF;
  // The search sees the source up to its first zero, as TextFindView does.
  const std::string searched = UpToZero(source);
  std::int64_t count = 0;
  if (!pattern.empty()) {
    for (std::size_t q = 0; q + pattern.size() <= searched.size();) {
      if (limit != 0 && count == limit) break;
      if (FindMatchAt(searched, pattern, q, mode)) {
        ++count;
        q += pattern.size();
      } else {
        ++q;
      }
    }
  }
  if (matches != nullptr) *matches = count;
  return static_cast<std::int64_t>(source.size()) +
         count * (static_cast<std::int64_t>(replacement.size()) -
                  static_cast<std::int64_t>(pattern.size()));
}

// TextSubstitute's produced text: matches left to right, never overlapping.
inline std::string SubstituteReference(const std::string& source, const std::string& pattern,
                                       const std::string& replacement, std::uint32_t options) {
  const std::uint32_t mode = options & 7;
  const std::uint32_t limit = (options >> 8) & 0xFF;
  const std::string searched = UpToZero(source);  // bytes after a zero are copied
  std::string out;
  std::uint32_t count = 0;
  std::size_t q = 0;
  while (q < source.size()) {
    if (!pattern.empty() && (limit == 0 || count < limit) &&
        FindMatchAt(searched, pattern, q, mode)) {
      out += replacement;
      q += pattern.size();
      ++count;
    } else {
      out += source[q++];
    }
  }
  return out;
}

// TextMid: count bytes from the 1-based position; see docs/strings.md.
inline std::string MidReference(const std::string& source, std::int32_t count,
                                std::int32_t position) {
  const std::uint32_t raw = static_cast<std::uint32_t>(count);
  const std::int64_t wanted =
      (raw >> 24) == 0x80 ? std::int64_t{raw & 0x7FFFFFFF} * 2 : std::int64_t{count};
  const std::int64_t length = static_cast<std::int64_t>(source.size());
  if (wanted == 0 || position == 0) return std::string();
  if (position > 0) {
    if (position > length) return std::string();
    const std::string rest = source.substr(static_cast<std::size_t>(position - 1));
    return wanted < 0 ? rest : rest.substr(0, static_cast<std::size_t>(wanted));
  }
  if (wanted < 0 || wanted > length) return source;
  return source.substr(static_cast<std::size_t>(length - wanted));
}

// TextTrim: bytes of 32 or less dropped at the start (bit 0) and end (bit 1);
// a zero byte met while trimming makes the result empty.
inline std::string TrimReference(const std::string& source, std::uint32_t mode) {
  std::size_t first = 0;
  std::size_t end = source.size();
  if (mode & 2) {
    while (end > first && static_cast<unsigned char>(source[end - 1]) <= 32) {
      if (source[--end] == '\0') return std::string();
    }
  }
  if (mode & 1) {
    while (first < end && static_cast<unsigned char>(source[first]) <= 32) {
      if (source[first++] == '\0') return std::string();
    }
  }
  return source.substr(first, end - first);
}

// TextCase of bytes: ASCII letters by rule, the other bytes as the system's
// conversion (CharUpperBuffA, CharLowerBuffA) has them.
inline std::string CaseReference(const std::string& source, bool upper) {
  std::string out = source;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z' && upper) {
      c = static_cast<char>(c - 32);
    } else if (c >= 'A' && c <= 'Z' && !upper) {
      c = static_cast<char>(c + 32);
    } else if (static_cast<unsigned char>(c) >= 128) {
      upper ? CharUpperBuffA(&c, 1) : CharLowerBuffA(&c, 1);
    }
  }
  return out;
}

// ---- Command line ----

// Argument n of line by the rules of docs/files.md; false when it is missing.
inline bool CommandLineReference(const std::string& line, std::int32_t n, std::string* argument) {
  static const std::string kQuotes = "!\"#$%&'";
  if (n < 0) n = 0;
  const std::string text = UpToZero(line);
  std::size_t at = 0;
  for (std::int32_t index = 0;; ++index) {
    while (at < text.size() && static_cast<unsigned char>(text[at]) <= 32) ++at;
    if (at >= text.size()) return false;
    std::string value;
    bool complete = true;
    const char quote = text[at];
    if (kQuotes.find(quote) != std::string::npos) {
      ++at;
      // The first character after the opening quote is always taken (a
      // control character too); the end of the line is not.
      if (at < text.size()) {
        value += text[at++];
      } else {
        complete = false;
      }
      while (complete) {
        if (at >= text.size() || static_cast<unsigned char>(text[at]) <= 9) {
          complete = false;
        } else if (text[at] == quote) {
          ++at;
          break;
        } else {
          value += text[at++];
        }
      }
    } else {
      while (at < text.size() && text[at] != ' ' && static_cast<unsigned char>(text[at]) > 9) {
        value += text[at++];
      }
    }
    if (value.size() > 159999) value.resize(159999);
    if (index == n) {
      *argument = value;
      return complete;
    }
  }
}

}  // namespace tw_fuzz
