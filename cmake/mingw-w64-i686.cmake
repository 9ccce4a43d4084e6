# Cross build for 32-bit Windows:
#   cmake -S . -B build-win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# 64-bit Wine cannot run 32-bit programs here (that needs the i386
# architecture, which breaks 64-bit Wine), so this build is compiled and
# linked but its tests are not registered with ctest; its binaries are checked
# statically (objdump).
set(QB_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
