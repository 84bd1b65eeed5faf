// The SSE register driver: inline asm per calling convention (Windows x64,
// System V x86-64, 32-bit cdecl).
#include "tools/xmm_call.h"

namespace tw_test {

std::uint64_t CallWithXmm(const void* routine, const std::uintptr_t* args, const std::uint64_t* in,
                          std::uint64_t* out) {
#if defined(__x86_64__)
#if defined(_WIN64)
  register std::uintptr_t first __asm__("rcx") = args[0];
  register std::uintptr_t second __asm__("rdx") = args[1];
  register std::uintptr_t third __asm__("r8") = args[2];
  register std::uintptr_t fourth __asm__("r9") = args[3];
#else
  register std::uintptr_t first __asm__("rdi") = args[0];
  register std::uintptr_t second __asm__("rsi") = args[1];
  register std::uintptr_t third __asm__("rdx") = args[2];
  register std::uintptr_t fourth __asm__("rcx") = args[3];
#endif
  std::uint64_t result;
  // r12 keeps the stack pointer; the stack is moved past the red zone,
  // aligned to 16 and given the 32-byte shadow area of Windows x64.
  __asm__ volatile(
      "mov %%rsp, %%r12\n\t"
      "sub $256, %%rsp\n\t"
      "and $-16, %%rsp\n\t"
      "sub $32, %%rsp\n\t"
      "movq 0(%[in]), %%xmm0\n\t"
      "movq 8(%[in]), %%xmm1\n\t"
      "movq 16(%[in]), %%xmm2\n\t"
      "movq 24(%[in]), %%xmm3\n\t"
      "movq 32(%[in]), %%xmm4\n\t"
      "movq 40(%[in]), %%xmm5\n\t"
      "movq 48(%[in]), %%xmm6\n\t"
      "movq 56(%[in]), %%xmm7\n\t"
      "call *%[routine]\n\t"
      "mov %%r12, %%rsp\n\t"
      "movq %%xmm0, 0(%[out])\n\t"
      "movq %%xmm1, 8(%[out])\n\t"
      "movq %%xmm2, 16(%[out])\n\t"
      "movq %%xmm3, 24(%[out])\n\t"
      "movq %%xmm4, 32(%[out])\n\t"
      "movq %%xmm5, 40(%[out])\n\t"
      "movq %%xmm6, 48(%[out])\n\t"
      "movq %%xmm7, 56(%[out])"
      : "=&a"(result), "+r"(first), "+r"(second), "+r"(third), "+r"(fourth)
      : [routine] "r"(routine), [in] "r"(in), [out] "r"(out)
#if defined(_WIN64)
      : "r10", "r11", "r12", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory", "cc");
#else
      : "r8", "r9", "r10", "r11", "r12", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6",
        "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory",
        "cc");
#endif
  return result;
#elif defined(__i386__)
  // cdecl: the four arguments on an aligned stack; esi keeps the stack
  // pointer, ebx the output area (both kept by the routine). The result is
  // edx:eax (a two-word result such as NumberRead comes back whole).
  std::uint32_t low = reinterpret_cast<std::uint32_t>(routine);
  std::uint32_t high;
  const std::uintptr_t* argList = args;
  const std::uint64_t* inList = in;
  __asm__ volatile(
      "mov %%esp, %%esi\n\t"
      "sub $16, %%esp\n\t"
      "and $-16, %%esp\n\t"
      "mov 12(%%ecx), %%edi\n\t"
      "mov %%edi, 12(%%esp)\n\t"
      "mov 8(%%ecx), %%edi\n\t"
      "mov %%edi, 8(%%esp)\n\t"
      "mov 4(%%ecx), %%edi\n\t"
      "mov %%edi, 4(%%esp)\n\t"
      "mov 0(%%ecx), %%edi\n\t"
      "mov %%edi, 0(%%esp)\n\t"
      "movq 0(%%edx), %%xmm0\n\t"
      "movq 8(%%edx), %%xmm1\n\t"
      "movq 16(%%edx), %%xmm2\n\t"
      "movq 24(%%edx), %%xmm3\n\t"
      "movq 32(%%edx), %%xmm4\n\t"
      "movq 40(%%edx), %%xmm5\n\t"
      "movq 48(%%edx), %%xmm6\n\t"
      "movq 56(%%edx), %%xmm7\n\t"
      "call *%%eax\n\t"
      "mov %%esi, %%esp\n\t"
      "movq %%xmm0, 0(%%ebx)\n\t"
      "movq %%xmm1, 8(%%ebx)\n\t"
      "movq %%xmm2, 16(%%ebx)\n\t"
      "movq %%xmm3, 24(%%ebx)\n\t"
      "movq %%xmm4, 32(%%ebx)\n\t"
      "movq %%xmm5, 40(%%ebx)\n\t"
      "movq %%xmm6, 48(%%ebx)\n\t"
      "movq %%xmm7, 56(%%ebx)"
      : "+a"(low), "=d"(high), "+c"(argList)
      : "1"(inList), "b"(out)
      : "esi", "edi", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "memory",
        "cc");
  return (static_cast<std::uint64_t>(high) << 32) | low;
#else
#error "The SSE register driver needs x86 or x86-64"
#endif
}

}  // namespace tw_test
