# Cross-builds tidewell.exe and the Windows test suite with MinGW-w64; the tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TIDEWELL_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TIDEWELL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIDEWELL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TIDEWELL_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TIDEWELL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs to ship: libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(TIDEWELL_WINE NAMES wine64 wine)
if(TIDEWELL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TIDEWELL_WINE})
endif()
