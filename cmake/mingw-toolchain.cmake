# Cross build of the Windows executable with MinGW-w64 (64-bit, POSIX threading model).
# The result runs on a bare Windows: the C and C++ runtimes are linked in statically, so the
# executable needs nothing beyond the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(lumvar_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${lumvar_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${lumvar_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${lumvar_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${lumvar_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs built here can be started on this machine through Wine.
find_program(LUMVAR_WINE_PROGRAM wine)
if(LUMVAR_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMVAR_WINE_PROGRAM})
endif()
