# Cross-building funsize.exe for Windows x86-64 with the mingw-w64 tool chain
# (Debian package g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win --target funsize -j2
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FUNSIZE_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${FUNSIZE_MINGW_PREFIX}-g++-posix ${FUNSIZE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${FUNSIZE_MINGW_PREFIX}-gcc-posix ${FUNSIZE_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${FUNSIZE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FUNSIZE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the compiler's runtime libraries are linked
# in, so the program needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
