// Captures what the code under test writes to standard output or standard
// error through the standard handles, in both lanes: the handle is pointed at a
// temporary file while the capture runs (SetStdHandle on Windows, dup2
// natively), and the file's bytes are the result.
#pragma once

#include <string>

namespace tw_test {

enum class Stream { Output, Error };

class Capture {
 public:
  explicit Capture(Stream stream);
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Ends the capture (once) and returns everything written meanwhile.
  std::string Finish();

 private:
  Stream stream_;
  std::string path_;
  bool finished_ = false;
  std::string text_;
#ifdef _WIN32
  void* saved_ = nullptr;
  void* file_ = nullptr;
#else
  int saved_ = -1;
#endif
};

// A fresh, empty temporary folder for one test (removed by the caller or left
// for the system's temporary-file clean-up).
std::string TemporaryPath(const char* stem);

}  // namespace tw_test
