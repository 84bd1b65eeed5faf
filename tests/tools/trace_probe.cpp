// The transparency probe driver (see trace_probe.h), in x86-64 assembly for the
// System V and the Microsoft calling conventions, and in i386 assembly for
// cdecl.
#include "tools/trace_probe.h"

#if defined(__x86_64__)

#if defined(_WIN32)
#define TW_PROBE_ARG "rcx"
#define TW_PROBE_SHADOW_ALLOC "  sub rsp, 32\n"
#define TW_PROBE_SHADOW_FREE "  add rsp, 32\n"
#define TW_PROBE_CALL "  call tw_TraceRun\n"
#else
#define TW_PROBE_ARG "rdi"
#define TW_PROBE_SHADOW_ALLOC ""
#define TW_PROBE_SHADOW_FREE ""
#define TW_PROBE_CALL "  call tw_TraceRun@PLT\n"
#endif

asm(".intel_syntax noprefix\n"
    ".data\n"
    ".p2align 3\n"
    "tw_probe_slot: .quad 0\n"
    ".text\n"
    ".p2align 4\n"
    ".globl tw_probe_run\n"
    "tw_probe_run:\n"
    "  push rbx\n  push rbp\n  push r12\n  push r13\n  push r14\n  push r15\n  push rsi\n  push "
    "rdi\n"
    // The slot of an outer run (a probe nested inside a statement) is kept.
    "  push qword ptr [rip+tw_probe_slot]\n"
    "  sub rsp, 32\n"
    "  movdqu [rsp], xmm6\n  movdqu [rsp+16], xmm7\n"
    "  mov [rip+tw_probe_slot], " TW_PROBE_ARG
    "\n"
    "  mov r11, " TW_PROBE_ARG
    "\n"
    // x87: a fresh unit, the control word, three values, and a record of it.
    "  fninit\n"
    "  fldcw [r11+744]\n"
    "  fld tbyte ptr [r11+752]\n  fld tbyte ptr [r11+768]\n  fld tbyte ptr [r11+784]\n"
    "  fnsave [r11+528]\n  frstor [r11+528]\n"
    "  movdqu xmm0, [r11+272]\n  movdqu xmm1, [r11+288]\n  movdqu xmm2, [r11+304]\n"
    "  movdqu xmm3, [r11+320]\n  movdqu xmm4, [r11+336]\n  movdqu xmm5, [r11+352]\n"
    "  movdqu xmm6, [r11+368]\n  movdqu xmm7, [r11+384]\n" TW_PROBE_SHADOW_ALLOC
    "  push qword ptr [r11+256]\n  popfq\n"
    "  mov rax, [r11]\n  mov rbx, [r11+8]\n  mov rcx, [r11+16]\n  mov rdx, [r11+24]\n"
    "  mov rsi, [r11+32]\n  mov rdi, [r11+40]\n  mov rbp, [r11+48]\n  mov r8, [r11+56]\n"
    "  mov r9, [r11+64]\n  mov r10, [r11+72]\n  mov r12, [r11+88]\n  mov r13, [r11+96]\n"
    "  mov r14, [r11+104]\n  mov r15, [r11+112]\n  mov r11, [r11+80]\n" TW_PROBE_CALL
    "  pushfq\n  push r11\n"
    "  mov r11, [rip+tw_probe_slot]\n"
    "  mov [r11+128], rax\n  mov [r11+136], rbx\n  mov [r11+144], rcx\n  mov [r11+152], rdx\n"
    "  mov [r11+160], rsi\n  mov [r11+168], rdi\n  mov [r11+176], rbp\n  mov [r11+184], r8\n"
    "  mov [r11+192], r9\n  mov [r11+200], r10\n  mov [r11+216], r12\n  mov [r11+224], r13\n"
    "  mov [r11+232], r14\n  mov [r11+240], r15\n"
    "  pop qword ptr [r11+208]\n  pop qword ptr [r11+264]\n"
    "  movdqu [r11+400], xmm0\n  movdqu [r11+416], xmm1\n  movdqu [r11+432], xmm2\n"
    "  movdqu [r11+448], xmm3\n  movdqu [r11+464], xmm4\n  movdqu [r11+480], xmm5\n"
    "  movdqu [r11+496], xmm6\n  movdqu [r11+512], xmm7\n"
    "  fnsave [r11+636]\n"
    "  fninit\n"
    "  cld\n" TW_PROBE_SHADOW_FREE
    "  movdqu xmm6, [rsp]\n  movdqu xmm7, [rsp+16]\n"
    "  add rsp, 32\n"
    "  pop qword ptr [rip+tw_probe_slot]\n"
    "  pop rdi\n  pop rsi\n  pop r15\n  pop r14\n  pop r13\n  pop r12\n  pop rbp\n  pop rbx\n"
    "  ret\n"
    ".att_syntax prefix\n");

#elif defined(__i386__)

#define TW_PROBE_STRINGIZE2(x) #x
#define TW_PROBE_STRINGIZE(x) TW_PROBE_STRINGIZE2(x)
#define TW_PROBE_SYMBOL(name) TW_PROBE_STRINGIZE(__USER_LABEL_PREFIX__) #name

// The x87 values lie 12 bytes apart: 752, 764, 776.
static_assert(sizeof(long double) == 12);
static_assert(offsetof(tw_test::ProbeState, stack[1]) == 764);

// No register is left over while the traced state is loaded, so the state's
// address and the stack pointer to return to are kept in the aligned area
// right above the two cdecl arguments: [esp+8] and [esp+12] at the call.
asm(".intel_syntax noprefix\n"
    ".text\n"
    ".p2align 4\n"
    ".globl " TW_PROBE_SYMBOL(tw_probe_run) "\n"
    TW_PROBE_SYMBOL(tw_probe_run) ":\n"
    "  push ebp\n  push ebx\n  push esi\n  push edi\n"
    "  mov eax, [esp+20]\n"
    "  mov ebp, esp\n"
    "  sub esp, 32\n"
    "  and esp, -16\n"
    "  mov [esp+8], eax\n  mov [esp+12], ebp\n"
    "  mov ecx, [eax+64]\n  mov [esp], ecx\n"
    "  mov ecx, [eax+72]\n  mov [esp+4], ecx\n"
    // x87: a fresh unit, the control word, three values, and a record of it.
    "  fninit\n"
    "  fldcw [eax+744]\n"
    "  fld tbyte ptr [eax+752]\n  fld tbyte ptr [eax+764]\n  fld tbyte ptr [eax+776]\n"
    "  fnsave [eax+528]\n  frstor [eax+528]\n"
    "  movdqu xmm0, [eax+272]\n  movdqu xmm1, [eax+288]\n  movdqu xmm2, [eax+304]\n"
    "  movdqu xmm3, [eax+320]\n  movdqu xmm4, [eax+336]\n  movdqu xmm5, [eax+352]\n"
    "  movdqu xmm6, [eax+368]\n  movdqu xmm7, [eax+384]\n"
    "  push dword ptr [eax+256]\n  popfd\n"
    "  mov ebx, [eax+8]\n  mov ecx, [eax+16]\n  mov edx, [eax+24]\n  mov esi, [eax+32]\n"
    "  mov edi, [eax+40]\n  mov ebp, [eax+48]\n  mov eax, [eax]\n"
    "  call " TW_PROBE_SYMBOL(tw_TraceRun) "\n"
    "  pushfd\n  push eax\n"
    "  mov eax, [esp+16]\n"
    "  mov [eax+136], ebx\n  mov [eax+144], ecx\n  mov [eax+152], edx\n  mov [eax+160], esi\n"
    "  mov [eax+168], edi\n  mov [eax+176], ebp\n"
    "  pop dword ptr [eax+128]\n  pop dword ptr [eax+264]\n"
    "  movdqu [eax+400], xmm0\n  movdqu [eax+416], xmm1\n  movdqu [eax+432], xmm2\n"
    "  movdqu [eax+448], xmm3\n  movdqu [eax+464], xmm4\n  movdqu [eax+480], xmm5\n"
    "  movdqu [eax+496], xmm6\n  movdqu [eax+512], xmm7\n"
    "  fnsave [eax+636]\n"
    "  fninit\n"
    "  cld\n"
    "  mov esp, [esp+12]\n"
    "  pop edi\n  pop esi\n  pop ebx\n  pop ebp\n"
    "  ret\n"
    ".att_syntax prefix\n");

#endif
