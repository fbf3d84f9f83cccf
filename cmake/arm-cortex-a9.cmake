# The target processor: the second core of a dual-core 32-bit ARM Cortex-A9 (hard float, VFPv3,
# unsigned char, 32-bit long and pointers), with Debian's cross compiler (g++-arm-linux-gnueabihf).
# `make cross` uses it; the programs it builds run here under qemu-arm (see `make cross-check`).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# -Wno-psabi: no note that passing some structures by value changed in GCC 7.1; that matters only
# when linking with code from an older compiler, and nothing here is.
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-a9 -mfpu=vfpv3-d16 -mfloat-abi=hard -Wno-psabi")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
