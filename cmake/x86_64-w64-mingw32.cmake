# Cross-compiles the 64-bit Windows console program with MinGW-w64. Its tests run under
# Wine's 64-bit loader itself: Debian's `wine` launcher picks the 32-bit one whenever
# wine32 is installed, even on a kernel that cannot run it. scripts/with-wine.sh sets
# WINELOADER and the server to match.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESKAR_MINGW_TRIPLE x86_64-w64-mingw32)
set(VESKAR_MINGW_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
