# MinGW-w64 cross toolchain: i686, posix thread model.
set(TIDEWASH_ARCH i686)
set(TIDEWASH_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
