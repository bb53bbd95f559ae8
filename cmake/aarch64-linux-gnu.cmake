# Cross-builds the whole program for 64-bit ARM Linux with Debian's
# crossbuild-essential-arm64, linking the arm64 builds of OpenSSL, cpp-httplib and
# GoogleTest installed through multiarch (tools/install-deps.sh --cross). Test
# programs run under qemu-aarch64, which ctest and GoogleTest's discovery use:
#   cmake -S . -B build-aarch64 -G Ninja --toolchain cmake/aarch64-linux-gnu.cmake -DTLM_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Libraries and packages of the target only; the build's own programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# The programs run on the arm64 C library that multiarch installs (libc6:arm64, in
# /lib/aarch64-linux-gnu); with the cross compiler's copy (-L /usr/aarch64-linux-gnu)
# qemu 7.2 hangs in the first pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# dpkg-shlibdeps finds the arm64 libraries' packages through dpkg's database.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
