# MinGW-w64 cross toolchain: x86_64, win32 thread model.
set(TIDEWASH_ARCH x86_64)
set(TIDEWASH_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
