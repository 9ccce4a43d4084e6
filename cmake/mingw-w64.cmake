# Shared part of the MinGW-w64 toolchain files. The including file sets
# QB_MINGW_TRIPLET (x86_64-w64-mingw32 or i686-w64-mingw32) first.
#
# The "-posix" compilers use the winpthreads thread model: the default "win32"
# model of GCC 12 has no std::thread or std::mutex. Every program and library
# is linked with a static runtime, so neither libstdc++, libgcc nor
# winpthreads has to be laid beside it as a DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

set(CMAKE_C_COMPILER ${QB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QB_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
