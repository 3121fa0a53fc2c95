# Shared by the cross toolchains: Debian's cross compiler for
# VELMORA_CROSS_TRIPLE, the target's libraries from its multiarch root, and
# qemu's user-mode emulator to run what is built (tests and the programs
# they call). Included by a toolchain file that sets the triple and the
# processor first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${VELMORA_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR}-static -L /usr/${VELMORA_CROSS_TRIPLE})
