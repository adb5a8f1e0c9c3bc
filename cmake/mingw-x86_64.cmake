# Cross-compiles the same sources for 64-bit Windows, for the tests: such a lumo.exe runs natively
# under 64-bit Wine where 32-bit Linux programs (and so 32-bit Wine) run only emulated:
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUMO_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
