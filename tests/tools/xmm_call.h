// An asm-level driver for routines that read or write the SSE registers:
// loads xmm0 to xmm7, calls a routine with four integer arguments by the
// platform's calling convention, and stores xmm0 to xmm7 right after it
// returns, before any compiled code can touch them.
#pragma once

#include <cstdint>

namespace tw_test {

// Calls routine(args[0], args[1], args[2], args[3]) with the low halves of
// xmm0 to xmm7 loaded from in[0..7]; their low halves after the call go to
// out[0..7]. Returns the routine's integer result register (rax / eax).
std::uint64_t CallWithXmm(const void* routine, const std::uintptr_t* args, const std::uint64_t* in,
                          std::uint64_t* out);

}  // namespace tw_test
