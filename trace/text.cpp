// Decimal rendering, text lengths, counted copies and console output.
#include "trace/text.h"

#include "compat/win32.h"
#include "trace/kernels.h"
#include "trace/text_avx2.h"
#include "trace/text_avx512.h"

#include <cstring>

#define TW_WALK TW_SSE2_KERNEL
#include "trace/text_walks.h"
#undef TW_WALK

namespace tw {

namespace {

// Reverses the digits between first and end (the NUL's place) in place.
void ReverseDigits(char* first, char* end) {
  for (char* last = end - 1; first < last; ++first, --last) {
    const char swap = *first;
    *first = *last;
    *last = swap;
  }
}

}  // namespace

void DecimalText(std::int32_t value, char* out) {
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  // Division by 10 as a multiplication: the high half of n * 0xCCCCCCCD,
  // shifted right by 3, is n / 10 for every 32-bit n.
  char* first = out;
  do {
    const std::uint32_t quotient =
        static_cast<std::uint32_t>((std::uint64_t{magnitude} * 0xCCCCCCCDu) >> 35);
    *out++ = static_cast<char>('0' + (magnitude - quotient * 10));
    magnitude = quotient;
  } while (magnitude != 0);
  *out = '\0';
  ReverseDigits(first, out);
}

void DecimalText64(std::int64_t value, char* out) {
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  char* first = out;
  do {
    *out++ = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  *out = '\0';
  ReverseDigits(first, out);
}

void HexDigits(std::uint64_t value, int digits, char* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < digits; ++i) out[i] = kDigits[(value >> (4 * (digits - 1 - i))) & 0xF];
  out[digits] = '\0';
}

void AddressDigits(const void* address, char* out) {
  HexDigits(reinterpret_cast<std::uintptr_t>(address), 2 * sizeof address, out);
}

namespace {

// The SSE2 text length: 16-byte blocks, 64 bytes per step.
TW_SSE2_ENTRY std::uint32_t TextLengthSse2Kernel(const char* text) {
  return LengthWith<vector_sets::Sse2>(text);
}

__attribute__((no_sanitize("address"))) std::uint32_t TextLengthWords(const char* text) {
  const char* p = text;
  while ((reinterpret_cast<std::uintptr_t>(p) & 3) != 0) {
    if (*p == '\0') return static_cast<std::uint32_t>(p - text);
    ++p;
  }
  for (;; p += 4) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    const std::uint32_t marks = (word - 0x01010101u) & ~word & 0x80808080u;
    if (marks != 0) {
      // Little-endian: the lowest marked byte is the first NUL.
      return static_cast<std::uint32_t>(p - text) +
             static_cast<std::uint32_t>(__builtin_ctz(marks) / 8);
    }
  }
}

}  // namespace

// The dispatch place of the text lengths: the AVX2 kernel where the library
// chose it, else the routine's own SSE2 or word form. TextLengthSse2 itself is
// the small assembly entry below, which keeps xmm0 around this choice.
extern "C" std::uint32_t tw_TextLengthChosen(const char* text) {
#if defined(__x86_64__)
  if (UseAvx512Kernels()) return tw_TextLengthAvx512(text);
  if (UseAvx2Kernels()) return TextLengthAvx2(text);
#endif
  return TextLengthSse2Kernel(text);
}

#if defined(__x86_64__)
// TextLength's first call, before the library has chosen its kernels: out of
// line, so that the usual calls jump to their kernel with nothing saved.
__attribute__((noinline, cold)) static std::uint32_t TextLengthAfterChoosing(const char* text) {
  ChooseKernels();
  return TextLength(text);
}
#endif

std::uint32_t TextLength(const char* text) {
#if defined(__x86_64__)
  // The choice read once (UseAvx2Kernels and UseAvx512Kernels read it twice).
  const std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
  if (set == static_cast<std::int32_t>(KernelSet::kAvx512)) return tw_TextLengthAvx512(text);
  if (set == static_cast<std::int32_t>(KernelSet::kAvx2)) return TextLengthAvx2(text);
  if (set == 0) return TextLengthAfterChoosing(text);
#endif
  return TextLengthWords(text);
}

}  // namespace tw

// tw::TextLengthSse2 (const char*), named by its mangled name: keeps xmm0 in
// a slot on the stack while the chosen kernel runs, as the routine promises.
// The kernels may change the upper halves of the YMM registers only. On
// x86-64 the AVX-512 kernel, which leaves xmm0 alone, is entered directly when
// the library runs that set (tw::g_kernelSet is 3): no call and no slot. So is
// the AVX2 kernel (set 2) where the build compiles it without xmm0
// (TW_AVX2_LENGTH_KEEPS_XMM0: GCC's -ffixed-xmm0, trace/CMakeLists.txt);
// clang has no such flag, and its builds call that kernel with the slot.
#define TW_STRINGIZE2(x) #x
#define TW_STRINGIZE(x) TW_STRINGIZE2(x)
#define TW_SYMBOL(name) TW_STRINGIZE(__USER_LABEL_PREFIX__) #name

#if defined(TW_AVX2_LENGTH_KEEPS_XMM0)
#define TW_ENTER_AVX2_KERNEL(call_suffix) \
  "  cmp dword ptr [rip+" TW_SYMBOL(_ZN2tw11g_kernelSetE) "], 2\n" \
  "  je " TW_SYMBOL(_ZN2tw14TextLengthAvx2EPKc) call_suffix "\n"
#else
#define TW_ENTER_AVX2_KERNEL(call_suffix) ""
#endif

#if defined(__x86_64__) && defined(_WIN32)
// Microsoft x64: the text stays in rcx; 32 bytes of shadow space below the slot.
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) "\n"
    ".def " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) "; .scl 2; .type 32; .endef\n"
    TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) ":\n"
    "  cmp dword ptr [rip+" TW_SYMBOL(_ZN2tw11g_kernelSetE) "], 3\n"
    "  je " TW_SYMBOL(tw_TextLengthAvx512) "\n"
    TW_ENTER_AVX2_KERNEL("")
    "  sub rsp, 56\n"
    "  movdqu [rsp+32], xmm0\n"
    "  cmp dword ptr [rip+" TW_SYMBOL(_ZN2tw11g_kernelSetE) "], 2\n"
    "  jne 1f\n"
    "  call " TW_SYMBOL(_ZN2tw14TextLengthAvx2EPKc) "\n"
    "  jmp 2f\n"
    "1:\n"
    "  call " TW_SYMBOL(tw_TextLengthChosen) "\n"
    "2:\n"
    "  movdqu xmm0, [rsp+32]\n"
    "  add rsp, 56\n"
    "  ret\n"
    ".att_syntax prefix\n");
#elif defined(__x86_64__)
// System V: the text stays in rdi.
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) "\n"
    ".type " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) ", @function\n"
    TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) ":\n"
    "  cmp dword ptr [rip+" TW_SYMBOL(_ZN2tw11g_kernelSetE) "], 3\n"
    "  je " TW_SYMBOL(tw_TextLengthAvx512) "\n"
    TW_ENTER_AVX2_KERNEL("@PLT")
    "  sub rsp, 24\n"
    "  movdqu [rsp], xmm0\n"
    "  cmp dword ptr [rip+" TW_SYMBOL(_ZN2tw11g_kernelSetE) "], 2\n"
    "  jne 1f\n"
    "  call " TW_SYMBOL(_ZN2tw14TextLengthAvx2EPKc) "@PLT\n"
    "  jmp 2f\n"
    "1:\n"
    "  call " TW_SYMBOL(tw_TextLengthChosen) "@PLT\n"
    "2:\n"
    "  movdqu xmm0, [rsp]\n"
    "  add rsp, 24\n"
    "  ret\n"
    ".size " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) ", .-" TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) "\n"
    ".att_syntax prefix\n");
#elif defined(__i386__)
// cdecl: the text is copied to the callee's argument slot.
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) "\n"
    TW_SYMBOL(_ZN2tw14TextLengthSse2EPKc) ":\n"
    "  sub esp, 28\n"
    "  movdqu [esp+12], xmm0\n"
    "  mov eax, [esp+32]\n"
    "  mov [esp], eax\n"
    "  call " TW_SYMBOL(tw_TextLengthChosen) "\n"
    "  movdqu xmm0, [esp+12]\n"
    "  add esp, 28\n"
    "  ret\n"
    ".att_syntax prefix\n");
#else
#error "TextLengthSse2's entry is written for x86 and x86-64"
#endif

namespace tw {

char* TextCopy(char* destination, const char* source, std::int32_t count) {
  if (count < 0) count = static_cast<std::int32_t>(TextLengthSse2(source)) + count + 2;
  const std::int32_t words = count / 4;
  for (std::int32_t i = 0; i < words; ++i) {
    std::memcpy(destination + 4 * i, source + 4 * i, 4);
  }
  for (std::int32_t i = words * 4; i < count; ++i) destination[i] = source[i];
  return destination + count;
}

std::uint32_t ConsoleWrite(const char* text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  WriteFile(output, text, TextLength(text), &written, nullptr);
  return written;
}

}  // namespace tw
