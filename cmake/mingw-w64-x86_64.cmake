# Cross-compiles for 64-bit Windows with the MinGW-w64 GCC (Debian: g++-mingw-w64-x86-64).
# The executables link the C and C++ runtimes statically, so Zuvrex5.exe runs on a Windows
# machine with nothing else installed. Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DZUVREX_TABLE_GENERATOR=<a make_tables built for this machine>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZUVREX_MINGW_PREFIX x86_64-w64-mingw32)

# Debian ships the compiler in two threading variants; the program starts no threads, so
# either does. The "posix" one is preferred, then "win32", then an unsuffixed one.
find_program(ZUVREX_MINGW_CXX NAMES ${ZUVREX_MINGW_PREFIX}-g++-posix ${ZUVREX_MINGW_PREFIX}-g++-win32
                                    ${ZUVREX_MINGW_PREFIX}-g++ REQUIRED)
find_program(ZUVREX_MINGW_CC NAMES ${ZUVREX_MINGW_PREFIX}-gcc-posix ${ZUVREX_MINGW_PREFIX}-gcc-win32
                                   ${ZUVREX_MINGW_PREFIX}-gcc)
find_program(ZUVREX_MINGW_RC NAMES ${ZUVREX_MINGW_PREFIX}-windres)
set(CMAKE_CXX_COMPILER ${ZUVREX_MINGW_CXX})
if(ZUVREX_MINGW_CC)
  set(CMAKE_C_COMPILER ${ZUVREX_MINGW_CC})
endif()
if(ZUVREX_MINGW_RC)
  set(CMAKE_RC_COMPILER ${ZUVREX_MINGW_RC})
endif()

# Libraries and headers come from the MinGW-w64 tree only; programs (cmake's helpers) from
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZUVREX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the executable: everything is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
