# MinGW-w64 cross toolchain: x86_64, posix thread model.
set(TIDEWASH_ARCH x86_64)
set(TIDEWASH_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
