# Cross-building the Windows program (64-bit) with Debian's MinGW-w64, posix
# thread model (std::thread, std::mutex). Used by scripts/build-windows.sh:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEB_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEB_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ZEB_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZEB_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${ZEB_MINGW_TRIPLE}-strip CACHE FILEPATH "")

# Headers and libraries come from the MinGW tree only; programs (nasm, python)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZEB_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests built for Windows run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# Every Windows translation unit sees the same Windows headers: wide-character
# APIs, no min/max macros, Windows 10 interfaces.
set(ZEB_WIN_DEFINES "-DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0A00 -DUNICODE -D_UNICODE")
set(CMAKE_C_FLAGS_INIT "${ZEB_WIN_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${ZEB_WIN_DEFINES}")
# Static run-time libraries (libgcc, libstdc++, winpthreads): the program needs
# only the DLLs every Windows has, plus openh264.dll beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
