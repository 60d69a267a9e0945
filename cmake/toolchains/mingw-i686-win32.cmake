# MinGW-w64 cross toolchain: i686, win32 thread model.
set(TIDEWASH_ARCH i686)
set(TIDEWASH_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
