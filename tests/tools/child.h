// Runs a scenario of a test program in a child process, in both lanes: the
// test program is started again with TW_TEST_CHILD naming the scenario, and
// RunScenarioIfChild (called from a static initializer of the test source)
// runs that scenario before gtest starts. For routines that end the process.
#pragma once

#include <string>
#include <vector>

#ifndef _WIN32
#include <spawn.h>
#endif

namespace tw_test {

struct Scenario {
  const char* name;
  void (*run)();
};

// In a child: runs the named scenario and ends the process with exit code 77
// if the scenario returns. In the parent: returns 0 at once.
int RunScenarioIfChild(const Scenario* scenarios, int count);

struct ChildResult {
  int exitCode;        // natively only the low 8 bits survive: they are sign-extended
  std::string error;   // everything the child wrote to standard error
  std::string output;  // everything the child wrote to standard output
};

// Runs scenario in a child with TARNWICK_MSGBOX set to answers.
ChildResult RunChild(const char* scenario, const char* answers = "default");

// Why this lane starts no child process, or null where it can: a lane that
// cannot (32-bit Wine through qemu-i386) sets TW_TEST_NO_CHILD_PROCESS to
// its reason.
const char* NoChildProcessReason();

// Prints "[ NO CHILD ] <current test>: no child process in this lane: <reason>".
void ReportNoChildProcess(const char* suite, const char* test, const char* reason);

// The reason this lane cannot recover from a memory fault inside a test
// (TW_TEST_NO_FAULT_RECOVERY), or nullptr where it can.
const char* NoFaultRecoveryReason();

#ifndef _WIN32
// Starts this test program again with the given argv (argv[0] included) and
// this process's environment; the result is posix_spawn's. In the native32
// lane the program is started through the emulator that runs the tests.
int SpawnThisProgram(pid_t* child, const posix_spawn_file_actions_t* actions,
                     const std::vector<std::string>& arguments);
#endif

}  // namespace tw_test

// Ends the current test early, printing the lane's reason, when reason (an
// expression giving a text or nullptr) names one. Not GTEST_SKIP: under
// 32-bit Wine through qemu-i386 googletest's report of a skip ends the program
// with an unhandled breakpoint exception. The line "[ NO CHILD ] test:
// reason" is what scripts/test-win32 counts as a skip.
#define TW_SKIP_IN_THIS_LANE(reason)                                                       \
  do {                                                                                     \
    if (const char* tw_reason = (reason)) {                                                \
      const ::testing::TestInfo* tw_test_info =                                            \
          ::testing::UnitTest::GetInstance()->current_test_info();                         \
      tw_test::ReportNoChildProcess(tw_test_info->test_suite_name(), tw_test_info->name(), \
                                    tw_reason);                                            \
      return;                                                                              \
    }                                                                                      \
  } while (false)

// Where no child process can be started; put it before the first child a
// test starts.
#define TW_SKIP_WITHOUT_CHILD_PROCESS() TW_SKIP_IN_THIS_LANE(tw_test::NoChildProcessReason())

// Where a memory fault that the code under test catches would end the
// program instead (32-bit Wine through qemu-i386).
#define TW_SKIP_WITHOUT_FAULT_RECOVERY() TW_SKIP_IN_THIS_LANE(tw_test::NoFaultRecoveryReason())
