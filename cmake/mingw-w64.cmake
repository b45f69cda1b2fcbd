# Cross-building the Windows programs on Debian with MinGW-w64 (package
# g++-mingw-w64-x86-64): 64-bit Windows, the POSIX thread model's runtime
# linked in statically so the programs import only Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELBOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELBOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELBOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KELBOR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELBOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Wine runs the tests' programs.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
