# Cross build for 32-bit Windows:
#   cmake -S . -B build-win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# Test programs run under Wine through scripts/wine-run, which ctest puts in
# front of every test command; that needs 32-bit Wine (wine32:i386), which
# scripts/windows-test installs only where this machine runs 32-bit programs,
# and a Wine prefix it prepares.
set(QB_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
