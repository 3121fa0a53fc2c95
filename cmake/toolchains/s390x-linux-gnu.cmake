# IBM Z, 64-bit and big-endian: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x-linux-gnu.cmake
set(VELMORA_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux-gnu.cmake)
