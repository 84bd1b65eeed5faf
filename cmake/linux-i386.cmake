# Native 32-bit build: Linux i386 with SSE2 (g++ -m32, Debian's g++-multilib).
# The kernel here does not start 32-bit programs, so every program of this
# build runs through the user-mode emulator qemu-i386 (Debian's qemu-user):
# CTest and gtest_discover_tests start the tests through it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
find_program(TW_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${TW_QEMU_I386}")
set(TW_RUNS_UNDER_WINE OFF)
