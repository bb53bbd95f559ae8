# Cross-builds the standard-library-only part (hash, engine, json, miner, their
# tests, tlm-hash and tlm-bench) for 64-bit RISC-V Linux, where the portable kernel
# runs, with Debian's g++-riscv64-linux-gnu. Debian 12 has no riscv64 libraries, so
# GoogleTest is built from the sources libgtest-dev ships. Test programs run under
# qemu-riscv64:
#   cmake -S . -B build-riscv64 -G Ninja --toolchain cmake/riscv64-linux-gnu.cmake -DTLM_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CMAKE_C_COMPILER riscv64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER riscv64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE riscv64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/riscv64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-riscv64 -L /usr/riscv64-linux-gnu)
set(TLM_STDLIB_ONLY ON CACHE BOOL "" FORCE)
set(TLM_GTEST_SOURCE /usr/src/googletest CACHE PATH "" FORCE)
