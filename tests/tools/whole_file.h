// Reading and writing a whole file's bytes, for tests that make their own
// input files and check what the library wrote.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace tw_test {

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace tw_test
