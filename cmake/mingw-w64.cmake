# Cross-compiling for Windows with MinGW-w64's posix-thread compilers (the
# win32-thread ones lack std::mutex, which GoogleTest needs). Included by the
# per-architecture toolchain files, which set TRENLIST_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TRENLIST_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRENLIST_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRENLIST_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TRENLIST_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
