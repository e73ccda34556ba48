# Cross-compiles the 32-bit Windows programs with MinGW-w64. The win32 thread-model
# compiler links no thread library of its own (winpthreads imports functions that Windows
# 95 and NT 4.0 lack), so the programs take threads and locks from the run-time and the
# system directly. Everything is linked statically, so that the programs need no DLL
# beyond the system's and msvcrt.dll; the PE header asks for Windows 4.0 at most.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--major-os-version=4,--minor-os-version=0 -Wl,--major-subsystem-version=4,--minor-subsystem-version=0")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
