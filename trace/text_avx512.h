// AVX-512 kernel of the shared text routines (x86-64 only); trace/text.cpp
// chooses between it and the AVX2 and SSE2 forms.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
// Number of bytes before the first NUL, 64 bytes per step. Reads a first
// unaligned 64-byte block only when it stays within the text's page, and
// otherwise whole 64-byte-aligned blocks that hold bytes of the text, so it
// never touches a page the text does not reach. Changes only rax, rcx, rdx,
// zmm16 to zmm19, k0 and the flags.
extern "C" std::uint32_t tw_TextLengthAvx512(const char* text);
#endif
