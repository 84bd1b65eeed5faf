// Capture of standard output and standard error, for both lanes.
#include "tools/capture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tw_test {

namespace {
int g_serial = 0;
}

std::string TemporaryPath(const char* stem) {
#ifdef _WIN32
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const unsigned long process = GetCurrentProcessId();
#else
  const char* folder = "/tmp/";
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  return std::string(folder) + "tw-" + stem + "-" + std::to_string(process) + "-" +
         std::to_string(++g_serial);
}

Capture::Capture(Stream stream) : stream_(stream), path_(TemporaryPath("capture")) {
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef _WIN32
  const DWORD which = stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  saved_ = GetStdHandle(which);
  file_ = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetStdHandle(which, file_);
#else
  const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
  saved_ = dup(fd);
  const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(file, fd);
  close(file);
#endif
}

Capture::~Capture() {
  Finish();
}

std::string Capture::Finish() {
  if (finished_) return text_;
  finished_ = true;
#ifdef _WIN32
  SetStdHandle(stream_ == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, saved_);
  CloseHandle(file_);
#else
  const int fd = stream_ == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
  dup2(saved_, fd);
  close(saved_);
#endif
  std::ifstream in(path_, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  text_ = bytes.str();
  in.close();
  std::remove(path_.c_str());
  return text_;
}

}  // namespace tw_test
