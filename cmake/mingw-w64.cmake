# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model, so that
# std::thread and std::mutex work) and run the results under Wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QEV_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QEV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QEV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QEV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: a test program runs under Wine with no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and add_test run Windows programs through Wine's loader.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
