// References written in the tests from the stated rules, shared by the unit
// tests and the fuzz targets: Recall's line split, the UTF-16 to UTF-8
// conversion of a loaded text, and the selection of one tab or comma field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/arrays.h"

namespace tw_test {

using Lines = std::vector<std::string>;

// The stated split: line feeds in text order, with the restart in LF mode at
// the fifth bare line feed before any line end.
inline Lines ReferenceLines(const std::string& text, bool lineFeeds) {
  Lines lines;
  for (;;) {
    lines.clear();
    std::size_t start = 0;
    int bare = 0;
    bool restart = false;
    for (std::size_t i = 0; i < text.size() && !restart; ++i) {
      if (text[i] != '\n') continue;
      if (lineFeeds) {
        lines.push_back(text.substr(start, i - start));
        start = i + 1;
      } else if (i > 0 && text[i - 1] == '\r') {
        lines.push_back(text.substr(start, i - 1 - start));
        start = i + 1;
      } else if (lines.empty() && ++bare == 5) {
        lineFeeds = true;
        restart = true;
      }
    }
    if (restart) continue;
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
  }
}

inline void AppendUtf8(std::string& out, std::uint32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

// UTF-16LE bytes to UTF-8: pairs joined, lone surrogates and an odd last byte
// as U+FFFD.
inline std::string ReferenceUtf8(const std::string& bytes) {
  std::vector<std::uint32_t> units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<unsigned char>(bytes[i]) |
                    (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8));
  }
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  if (bytes.size() % 2 == 1) AppendUtf8(out, 0xFFFD);
  return out;
}

// A reference written as a character-by-character state machine.
inline std::optional<std::string> ReferenceField(std::string text, std::int32_t shape, int wanted) {
  text = text.substr(0, text.find('\0'));
  if (shape == tw::kShapeTabFields) {
    std::vector<std::string> fields(1);
    for (char c : text) {
      if (c == '\t') {
        fields.emplace_back();
      } else {
        fields.back().push_back(c);
      }
    }
    if (wanted >= static_cast<int>(fields.size())) return std::nullopt;
    return fields[static_cast<std::size_t>(wanted)];
  }
  std::size_t i = 0;
  if (!text.empty() && text[0] == '"') ++i;
  for (int field = 0;; ++field) {
    std::string value;
    bool inQuote = false;
    if (field > 0 && i < text.size() && text[i] == '"') {
      inQuote = true;
      ++i;
    }
    for (; i < text.size(); ++i) {
      if (inQuote) {
        if (text[i] == '"') inQuote = false;
      } else if (text[i] == ',') {
        break;
      }
      value.push_back(text[i]);
    }
    if (field == wanted) {
      if (!value.empty() && value.back() == '"') value.pop_back();
      return value;
    }
    if (i >= text.size()) return std::nullopt;
    ++i;
  }
}

}  // namespace tw_test
