# Shared part of the MinGW-w64 toolchain files. The including file sets
# QB_MINGW_TRIPLET (x86_64-w64-mingw32 or i686-w64-mingw32) first.
#
# The programs run on Windows XP and Server 2003 (NT 5.1 / 5.2) and later:
# - the "-win32" compilers use the Win32 thread model, so that no
#   winpthreads runtime comes in (winpthreads imports GetTickCount64 and
#   other functions that arrived with Vista); the project's own code uses
#   no std::thread or std::mutex (GCC 12's Win32 model has neither);
# - the Windows headers declare the API of Windows XP only (_WIN32_WINNT and
#   WINVER 0x0501), so that a newer function fails to compile;
# - the PE headers ask for the system version 5.1 (32-bit XP) or 5.2 (64-bit
#   XP and Server 2003), which the linker would otherwise choose itself;
# - every program and library is linked with a static runtime, so neither
#   libstdc++ nor libgcc has to be laid beside it as a DLL.
# scripts/check-windows-binaries checks the result against the exports of
# the NT 5 system libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 5.1)

set(CMAKE_C_COMPILER ${QB_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QB_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${QB_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(QB_MINGW_TRIPLET MATCHES "^x86_64")
  set(qb_pe_major 5)
  set(qb_pe_minor 2)
else()
  set(qb_pe_major 5)
  set(qb_pe_minor 1)
endif()

set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
set(CMAKE_RC_FLAGS_INIT "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")

set(qb_link_init "-static -static-libgcc -static-libstdc++")
foreach(field os subsystem)
  string(APPEND qb_link_init " -Wl,--major-${field}-version,${qb_pe_major}"
         " -Wl,--minor-${field}-version,${qb_pe_minor}")
endforeach()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${qb_link_init}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${qb_link_init}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${qb_link_init}")
# Release is optimised at -O2, not CMake's -O3: -O3's unrolled and
# duplicated loops add about a tenth to the size of the binaries, which the
# scanner, bound by reading its files, does not repay. (The Windows leg fails
# on an installed binary of 1 MB or more.)
# (A cache entry, since the compiler's defaults append -O3 to the _INIT
# value; a -D on the command line still overrides it.)
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of the Release build type")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of the Release build type")
# The optimised build types leave no symbols in the binaries.
foreach(type RELEASE MINSIZEREL)
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_${type}_INIT "-s")
  endforeach()
endforeach()
