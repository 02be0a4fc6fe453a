# SPDX-License-Identifier: MIT
# Cross-compiling for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64). The POSIX thread variant, since the tool's
# std::thread and std::mutex need it with GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BONDARA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BONDARA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BONDARA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BONDARA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BONDARA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Qt for Windows lives outside the mingw root (tools/setup-windows builds it into a cache):
# packages are looked up at CMAKE_PREFIX_PATH as given, as well as under the root.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
