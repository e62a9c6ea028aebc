# Cross-compiles the 32-bit Windows console program with MinGW-w64; tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESKAR_MINGW_TRIPLE i686-w64-mingw32)
set(VESKAR_MINGW_EMULATOR wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
