// An assembly-level driver for checking that a trace statement is transparent:
// it loads a distinctive processor state (general registers, flags, an x87
// stack and control word, xmm0-xmm7), calls tw_TraceRun directly, and records
// the state it finds on return. For x86-64 (both calling conventions) and for
// i386 (cdecl, the two arguments on the stack).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tw_test {

// Order of the general registers in ProbeState.
#if defined(__i386__)
// Each register in the low half of its 64-bit slot; the high half stays 0.
enum ProbeRegister { kEax, kEbx, kEcx, kEdx, kEsi, kEdi, kEbp, kProbeRegisters };
#else
enum ProbeRegister {
  kRax,
  kRbx,
  kRcx,
  kRdx,
  kRsi,
  kRdi,
  kRbp,
  kR8,
  kR9,
  kR10,
  kR11,
  kR12,
  kR13,
  kR14,
  kR15,
  kProbeRegisters
};
#endif

struct alignas(16) ProbeState {
  std::uint64_t gprIn[16];   // loaded before the call (the argument registers included)
  std::uint64_t gprOut[16];  // found after it
  std::uint64_t flagsIn;
  std::uint64_t flagsOut;
  std::uint8_t xmmIn[128];
  std::uint8_t xmmOut[128];
  std::uint8_t fpuIn[108];    // FSAVE image of the state just before the call
  std::uint8_t fpuOut[108];   // FSAVE image just after it
  std::uint16_t controlWord;  // x87 control word to load
  std::uint16_t unused[3];
  long double stack[3];  // pushed onto the x87 stack in this order (80 bits each)
};

static_assert(offsetof(ProbeState, gprOut) == 128);
static_assert(offsetof(ProbeState, flagsIn) == 256);
static_assert(offsetof(ProbeState, xmmIn) == 272);
static_assert(offsetof(ProbeState, xmmOut) == 400);
static_assert(offsetof(ProbeState, fpuIn) == 528);
static_assert(offsetof(ProbeState, fpuOut) == 636);
static_assert(offsetof(ProbeState, controlWord) == 744);
static_assert(offsetof(ProbeState, stack) == 752);

// Index of the first and second argument registers of the platform; on i386
// two slots past the registers that the driver pushes as cdecl arguments.
#if defined(__i386__)
constexpr int kFirstArgument = 8;
constexpr int kSecondArgument = 9;
#elif defined(_WIN32)
constexpr int kFirstArgument = kRcx;
constexpr int kSecondArgument = kRdx;
#else
constexpr int kFirstArgument = kRdi;
constexpr int kSecondArgument = kRsi;
#endif

}  // namespace tw_test

#if defined(__x86_64__) || defined(__i386__)
// Runs tw_TraceRun(gprIn[kFirstArgument], gprIn[kSecondArgument]) in the state
// described by state and fills its Out fields.
extern "C" void tw_probe_run(tw_test::ProbeState* state);
#define TW_HAVE_TRACE_PROBE 1
#endif
