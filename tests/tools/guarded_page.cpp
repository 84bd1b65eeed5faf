// Guarded pages for over-read tests, in both lanes.
#include "tools/guarded_page.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>

namespace tw_test {

GuardedPage::GuardedPage() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  size_ = info.dwPageSize;
  base_ = static_cast<char*>(
      VirtualAlloc(nullptr, 2 * size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old;
  VirtualProtect(base_ + size_, size_, PAGE_NOACCESS, &old);
#else
  size_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  base_ = static_cast<char*>(
      mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base_ + size_, size_, PROT_NONE);
#endif
}

GuardedPage::~GuardedPage() {
#ifdef _WIN32
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, 2 * size_);
#endif
}

char* GuardedPage::TextAtEnd(const char* bytes, std::size_t length) {
  char* text = base_ + size_ - length - 1;
  std::memset(base_, 'y', size_);
  std::memcpy(text, bytes, length);
  text[length] = '\0';
  return text;
}

char* GuardedPage::TextAtEnd(std::size_t length, char fill) {
  char* text = base_ + size_ - length - 1;
  std::memset(base_, 'y', size_);
  std::memset(text, fill, length);
  text[length] = '\0';
  return text;
}

}  // namespace tw_test
