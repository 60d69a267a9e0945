# Shared part of the MinGW-w64 toolchain files. The win32 thread model keeps the deliverables free of
# winpthreads (which imports functions Windows XP lacks); the posix model gives the tests std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TIDEWASH_ARCH})
set(_triple ${TIDEWASH_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-${TIDEWASH_THREADS})
set(CMAKE_CXX_COMPILER ${_triple}-g++-${TIDEWASH_THREADS})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TIDEWASH_ARCH TIDEWASH_THREADS)
