// AVX-512 kernel of the text length: 64-byte blocks tested into mask
// registers. Written as a small assembly leaf because TextLengthSse2 jumps
// straight to it: it touches only rax, rcx, rdx, zmm16 to zmm19 and k0, so it
// keeps xmm0 (and every other register a caller may count on) without saving
// anything, and it needs no vzeroupper (the upper halves of zmm16 to zmm31
// never slow later SSE code). Nothing else of the library needs AVX-512.
#include "trace/text_avx512.h"

#if defined(__x86_64__)

#define TW_STRINGIZE2(x) #x
#define TW_STRINGIZE(x) TW_STRINGIZE2(x)
#define TW_SYMBOL(name) TW_STRINGIZE(__USER_LABEL_PREFIX__) #name

#if defined(_WIN32)
// Microsoft x64: the text arrives in rcx, which is also the shift count.
#define TW_TEXT "rcx"
#define TW_TEXT32 "ecx"
#define TW_SHIFT_BY_TEXT "  shr rax, cl\n"
#define TW_FUNCTION_HEADER(name) ".def " TW_SYMBOL(name) "; .scl 2; .type 32; .endef\n"
#define TW_FUNCTION_SIZE(name) ""
#else
// System V: the text arrives in rdi.
#define TW_TEXT "rdi"
#define TW_TEXT32 "edi"
#define TW_SHIFT_BY_TEXT "  mov ecx, edi\n  shr rax, cl\n"
#define TW_FUNCTION_HEADER(name) ".type " TW_SYMBOL(name) ", @function\n"
#define TW_FUNCTION_SIZE(name) ".size " TW_SYMBOL(name) ", .-" TW_SYMBOL(name) "\n"
#endif

// The walk:
// - the first 64 bytes with one unaligned load when they lie within the
//   text's page; next to a page's end, the aligned block holding the text's
//   first byte instead, its mask shifted past the bytes before the text;
// - then four aligned blocks one at a time, and from the 256-byte line that
//   holds the next unread byte on, four aligned blocks at a time (the four
//   blocks of one 256-byte line share a page; a zero in any of them shows in
//   their byte-wise minimum);
// - the line that holds the zero is tested block by block.
// The result is the zero's place less the text's address (32 bits).
// clang-format off
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 5\n"
    ".globl " TW_SYMBOL(tw_TextLengthAvx512) "\n"
    TW_FUNCTION_HEADER(tw_TextLengthAvx512)
    TW_SYMBOL(tw_TextLengthAvx512) ":\n"
    "  vpxord xmm16, xmm16, xmm16\n"
    "  mov eax, " TW_TEXT32 "\n"
    "  and eax, 4095\n"
    "  cmp eax, 4032\n"
    "  ja 5f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [" TW_TEXT "]\n"
    "  kmovq rax, k0\n"
    "  test rax, rax\n"
    "  jz 1f\n"
    "  bsf rax, rax\n"
    "  ret\n"
    // No zero in the first 64 bytes: on from the next aligned block.
    "1:\n"
    "  lea rdx, [" TW_TEXT "+64]\n"
    "  and rdx, -64\n"
    // Four single aligned blocks, then on from the 256-byte line that holds
    // the next unread byte (its bytes before that one are known not zero).
    "2:\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx]\n"
    "  kortestq k0, k0\n"
    "  jnz 6f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+64]\n"
    "  kortestq k0, k0\n"
    "  jnz 7f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+128]\n"
    "  kortestq k0, k0\n"
    "  jnz 8f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+192]\n"
    "  kortestq k0, k0\n"
    "  jnz 9f\n"
    "  add rdx, 256\n"
    "  and rdx, -256\n"
    // Four aligned blocks per step.
    ".p2align 4\n"
    "3:\n"
    "  vmovdqa64 zmm17, zmmword ptr [rdx]\n"
    "  vmovdqa64 zmm18, zmmword ptr [rdx+128]\n"
    "  vpminub zmm17, zmm17, zmmword ptr [rdx+64]\n"
    "  vpminub zmm18, zmm18, zmmword ptr [rdx+192]\n"
    "  vpminub zmm19, zmm17, zmm18\n"
    "  vptestnmb k0, zmm19, zmm19\n"
    "  kortestq k0, k0\n"
    "  jnz 4f\n"
    "  add rdx, 256\n"
    "  jmp 3b\n"
    // The zero lies in one of the four blocks from rdx.
    "4:\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx]\n"
    "  kortestq k0, k0\n"
    "  jnz 6f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+64]\n"
    "  kortestq k0, k0\n"
    "  jnz 7f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+128]\n"
    "  kortestq k0, k0\n"
    "  jnz 8f\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx+192]\n"
    "  jmp 9f\n"
    // Next to a page's end: the aligned block that holds the first byte.
    "5:\n"
    "  mov rdx, " TW_TEXT "\n"
    "  and rdx, -64\n"
    "  vpcmpeqb k0, zmm16, zmmword ptr [rdx]\n"
    "  kmovq rax, k0\n"
    TW_SHIFT_BY_TEXT
    "  add rdx, 64\n"
    "  test rax, rax\n"
    "  jz 2b\n"
    "  bsf rax, rax\n"
    "  ret\n"
    // A zero in the block at rdx + 192, + 128, + 64 or + 0 (its mask in k0).
    "9:\n"
    "  add rdx, 64\n"
    "8:\n"
    "  add rdx, 64\n"
    "7:\n"
    "  add rdx, 64\n"
    "6:\n"
    "  kmovq rax, k0\n"
    "  bsf rax, rax\n"
    "  add rax, rdx\n"
    "  sub rax, " TW_TEXT "\n"
    "  ret\n"
    TW_FUNCTION_SIZE(tw_TextLengthAvx512)
    ".att_syntax prefix\n");
// clang-format on

#endif
