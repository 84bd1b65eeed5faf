// tw_TraceRun, the entry of every trace statement, in assembly: it saves the
// flags and all general registers, saves and at once reloads the x87 state,
// stores xmm0-xmm7 and MXCSR in a frame of its own on the stack, calls
// tw_TraceBody, and then brings back exactly that state. Because each
// statement keeps its entry state in its own frame, a statement nested inside
// another (from a message box's modal loop) restores its own state, and the
// outer one still restores the state it found.
//
// Frame (16-byte aligned): bytes 0-107 the FSAVE image, 112-239 xmm0-xmm7,
// 240-243 MXCSR. tw_TraceBody receives the frame's address as its third
// argument.
#include "trace/trace.h"

#define TW_STRINGIZE2(x) #x
#define TW_STRINGIZE(x) TW_STRINGIZE2(x)
#define TW_SYMBOL(name) TW_STRINGIZE(__USER_LABEL_PREFIX__) #name

#if defined(__x86_64__)

#if defined(_WIN32)
// Microsoft x64 convention: arguments in rcx, rdx, r8; 32 bytes of shadow space.
#define TW_BODY_CALL \
  "  mov r8, rsp\n"                         \
  "  sub rsp, 32\n"                         \
  "  call " TW_SYMBOL(tw_TraceBody) "\n"    \
  "  add rsp, 32\n"
#define TW_FUNCTION_HEADER(name) ".def " name "; .scl 2; .type 32; .endef\n"
#define TW_FUNCTION_FOOTER(name) ""
#else
// System V convention: arguments in rdi, rsi, rdx.
#define TW_BODY_CALL \
  "  mov rdx, rsp\n" \
  "  call " TW_SYMBOL(tw_TraceBody) "@PLT\n"
#define TW_FUNCTION_HEADER(name) ".type " name ", @function\n"
#define TW_FUNCTION_FOOTER(name) ".size " name ", .-" name "\n"
#endif

asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_SYMBOL(tw_TraceRun) "\n"
    TW_FUNCTION_HEADER(TW_SYMBOL(tw_TraceRun))
    TW_SYMBOL(tw_TraceRun) ":\n"
    "  pushfq\n"
    "  push rax\n  push rbx\n  push rcx\n  push rdx\n  push rsi\n  push rdi\n  push rbp\n"
    "  push r8\n  push r9\n  push r10\n  push r11\n  push r12\n  push r13\n  push r14\n  push r15\n"
    "  mov rbp, rsp\n"
    "  sub rsp, 256\n"
    "  and rsp, -16\n"
    "  fsave [rsp]\n"
    "  frstor [rsp]\n"
    "  movdqu [rsp+112], xmm0\n  movdqu [rsp+128], xmm1\n  movdqu [rsp+144], xmm2\n"
    "  movdqu [rsp+160], xmm3\n  movdqu [rsp+176], xmm4\n  movdqu [rsp+192], xmm5\n"
    "  movdqu [rsp+208], xmm6\n  movdqu [rsp+224], xmm7\n"
    "  stmxcsr [rsp+240]\n"
    "  cld\n"
    TW_BODY_CALL
    "  ldmxcsr [rsp+240]\n"
    "  movdqu xmm0, [rsp+112]\n  movdqu xmm1, [rsp+128]\n  movdqu xmm2, [rsp+144]\n"
    "  movdqu xmm3, [rsp+160]\n  movdqu xmm4, [rsp+176]\n  movdqu xmm5, [rsp+192]\n"
    "  movdqu xmm6, [rsp+208]\n  movdqu xmm7, [rsp+224]\n"
    "  frstor [rsp]\n"
    "  mov rsp, rbp\n"
    "  pop r15\n  pop r14\n  pop r13\n  pop r12\n  pop r11\n  pop r10\n  pop r9\n  pop r8\n"
    "  pop rbp\n  pop rdi\n  pop rsi\n  pop rdx\n  pop rcx\n  pop rbx\n  pop rax\n"
    "  popfq\n"
    "  ret\n"
    TW_FUNCTION_FOOTER(TW_SYMBOL(tw_TraceRun))
    ".att_syntax prefix\n");

#elif defined(__i386__)

// cdecl: arguments on the stack, above the return address, the saved flags and
// the eight registers of pushad (40 bytes).
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_SYMBOL(tw_TraceRun) "\n"
    TW_SYMBOL(tw_TraceRun) ":\n"
    "  pushfd\n"
    "  pushad\n"
    "  mov ebp, esp\n"
    "  sub esp, 256\n"
    "  and esp, -16\n"
    "  fsave [esp]\n"
    "  frstor [esp]\n"
    "  movdqu [esp+112], xmm0\n  movdqu [esp+128], xmm1\n  movdqu [esp+144], xmm2\n"
    "  movdqu [esp+160], xmm3\n  movdqu [esp+176], xmm4\n  movdqu [esp+192], xmm5\n"
    "  movdqu [esp+208], xmm6\n  movdqu [esp+224], xmm7\n"
    "  stmxcsr [esp+240]\n"
    "  cld\n"
    "  mov eax, [ebp+40]\n"
    "  mov ecx, [ebp+44]\n"
    "  mov edx, esp\n"
    "  sub esp, 16\n"
    "  mov [esp], eax\n  mov [esp+4], ecx\n  mov [esp+8], edx\n"
    "  call " TW_SYMBOL(tw_TraceBody) "\n"
    "  add esp, 16\n"
    "  ldmxcsr [esp+240]\n"
    "  movdqu xmm0, [esp+112]\n  movdqu xmm1, [esp+128]\n  movdqu xmm2, [esp+144]\n"
    "  movdqu xmm3, [esp+160]\n  movdqu xmm4, [esp+176]\n  movdqu xmm5, [esp+192]\n"
    "  movdqu xmm6, [esp+208]\n  movdqu xmm7, [esp+224]\n"
    "  frstor [esp]\n"
    "  mov esp, ebp\n"
    "  popad\n"
    "  popfd\n"
    "  ret\n"
    ".att_syntax prefix\n");

#else
#error "the trace statement's entry is written for x86 and x86-64"
#endif
