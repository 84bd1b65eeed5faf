// Native implementation of the Win32 subset in win32.h, over POSIX.
//
// A HANDLE of this layer is a file descriptor plus kHandleBias, so that 0 and
// INVALID_HANDLE_VALUE (-1) are never valid handles, as on Windows.
#include "compat/win32.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr std::intptr_t kHandleBias = 0x100;

thread_local DWORD t_lastError = ERROR_SUCCESS;

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(fd + kHandleBias);
}

int FdFromHandle(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle);
  if (value < kHandleBias) return -1;
  return static_cast<int>(value - kHandleBias);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}

}  // namespace

HANDLE WINAPI GetStdHandle(DWORD which) {
  switch (which) {
    case STD_INPUT_HANDLE:
      return HandleFromFd(STDIN_FILENO);
    case STD_OUTPUT_HANDLE:
      return HandleFromFd(STDOUT_FILENO);
    case STD_ERROR_HANDLE:
      return HandleFromFd(STDERR_FILENO);
    default:
      t_lastError = ERROR_INVALID_HANDLE;
      return INVALID_HANDLE_VALUE;
  }
}

// Writes everything or fails, as WriteFile does for files and pipes; the count
// written so far is stored either way.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  const int fd = FdFromHandle(file);
  if (fd < 0) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  const char* bytes = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      t_lastError = ErrorFromErrno(n < 0 ? errno : EIO);
      if (written != nullptr) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

DWORD WINAPI GetLastError() {
  return t_lastError;
}

void WINAPI SetLastError(DWORD code) {
  t_lastError = code;
}

// Returns the value's length without the NUL when it fits, else the size needed
// with the NUL; 0 with ERROR_ENVVAR_NOT_FOUND when the variable does not exist.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = getenv(name);
  if (value == nullptr) {
    t_lastError = ERROR_ENVVAR_NOT_FOUND;
    return 0;
  }
  const size_t length = strlen(value);
  if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
  memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

// A null value removes the variable.
BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  const int result = value == nullptr ? unsetenv(name) : setenv(name, value, 1);
  if (result != 0) {
    t_lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}
