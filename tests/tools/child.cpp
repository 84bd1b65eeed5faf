// Child processes for scenarios that end the process, over Win32 and POSIX.
#include "tools/child.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/capture.h"

namespace tw_test {

namespace {

constexpr char kScenarioVariable[] = "TW_TEST_CHILD";
constexpr char kAnswersVariable[] = "TARNWICK_MSGBOX";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

#ifdef _WIN32
void SetVariable(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

std::string GetVariable(const char* name) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value) : std::string();
}

HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Spawn(const std::string& errorPath, const std::string& outputPath) {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string commandLine = std::string("\"") + program + "\"";
  HANDLE error = InheritableFile(errorPath);
  HANDLE output = InheritableFile(outputPath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process = {};
  int exitCode = -1000;
  // Under Wine on a busy machine a process start now and then fails at once
  // and succeeds when asked again; a few tries keep that out of the results.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 4 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessA(program, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process);
  }
  if (!started) std::fprintf(stderr, "could not start the child: error %lu\n", GetLastError());
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(error);
  CloseHandle(output);
  return exitCode;
}
#else
void SetVariable(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

std::string GetVariable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

int Spawn(const std::string& errorPath, const std::string& outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t child = 0;
  const int started = SpawnThisProgram(&child, &actions, {"/proc/self/exe"});
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1000;
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return -2000 - WTERMSIG(status);
  return static_cast<signed char>(WEXITSTATUS(status));
}
#endif

}  // namespace

#ifndef _WIN32
int SpawnThisProgram(pid_t* child, const posix_spawn_file_actions_t* actions,
                     const std::vector<std::string>& arguments) {
  std::vector<std::string> line;
#ifdef TW_TEST_EMULATOR
  // The kernel may refuse the 32-bit program itself: start the emulator with
  // this program's file (the emulator's /proc/self/exe names it) and argv[0].
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return errno;
  self[length] = '\0';
  line = {TW_TEST_EMULATOR, "-0", arguments.empty() ? self : arguments[0], self};
  if (!arguments.empty()) line.insert(line.end(), arguments.begin() + 1, arguments.end());
#else
  line = arguments;
#endif
  std::vector<char*> argv;
  for (std::string& argument : line) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
#ifdef TW_TEST_EMULATOR
  const char* path = TW_TEST_EMULATOR;
#else
  const char* path = "/proc/self/exe";
#endif
  return posix_spawn(child, path, actions, nullptr, argv.data(), environ);
}
#endif

const char* NoChildProcessReason() {
  static const std::string reason = GetVariable("TW_TEST_NO_CHILD_PROCESS");
  return reason.empty() ? nullptr : reason.c_str();
}

const char* NoFaultRecoveryReason() {
  static const std::string reason = GetVariable("TW_TEST_NO_FAULT_RECOVERY");
  return reason.empty() ? nullptr : reason.c_str();
}

void ReportNoChildProcess(const char* suite, const char* test, const char* reason) {
  std::printf("[ NO CHILD ] %s.%s: not in this lane: %s\n", suite, test, reason);
  std::fflush(stdout);
}

int RunScenarioIfChild(const Scenario* scenarios, int count) {
  const std::string wanted = GetVariable(kScenarioVariable);
  if (wanted.empty()) return 0;
  for (int i = 0; i < count; ++i) {
    if (wanted == scenarios[i].name) {
      scenarios[i].run();
      std::fflush(nullptr);
      std::_Exit(77);
    }
  }
  return 0;
}

ChildResult RunChild(const char* scenario, const char* answers) {
  const std::string savedAnswers = GetVariable(kAnswersVariable);
  SetVariable(kScenarioVariable, scenario);
  SetVariable(kAnswersVariable, answers);
  const std::string errorPath = TemporaryPath("child-error");
  const std::string outputPath = TemporaryPath("child-output");
  ChildResult result;
  result.exitCode = Spawn(errorPath, outputPath);
  SetVariable(kScenarioVariable, nullptr);
  SetVariable(kAnswersVariable, savedAnswers.empty() ? nullptr : savedAnswers.c_str());
  result.error = ReadWhole(errorPath);
  result.output = ReadWhole(outputPath);
  std::remove(errorPath.c_str());
  std::remove(outputPath.c_str());
  return result;
}

}  // namespace tw_test
