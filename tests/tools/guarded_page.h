// Two pages of memory, the first readable and writable, the second unreadable,
// so that a routine reading past the end of a text placed at the end of the
// first page faults. Both lanes (VirtualAlloc on Windows, mmap natively).
#pragma once

#include <cstddef>

namespace tw_test {

class GuardedPage {
 public:
  GuardedPage();
  ~GuardedPage();
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  // Places bytes (length of them, then a zero byte) so that the zero is the
  // readable page's last byte; returns where the text starts.
  char* TextAtEnd(const char* bytes, std::size_t length);
  // The same for a text of length copies of fill.
  char* TextAtEnd(std::size_t length, char fill = 'x');

 private:
  char* base_;
  std::size_t size_;
};

}  // namespace tw_test
