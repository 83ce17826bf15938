# Cross-compiles the program for 64-bit Windows with Debian's mingw-w64 against the static Qt
# and OpenSSL that scripts/windows-toolchain.sh builds:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DVELOMARK_WINDOWS_TOOLCHAIN=$(scripts/windows-toolchain.sh | tail -n1)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
# The -posix compilers, because Qt was built with them and the code uses C++11 threads.
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

# The toolchain folder comes from the cache or, on a first configure, from the environment.
if(NOT VELOMARK_WINDOWS_TOOLCHAIN AND DEFINED ENV{VELOMARK_WINDOWS_TOOLCHAIN})
  set(VELOMARK_WINDOWS_TOOLCHAIN "$ENV{VELOMARK_WINDOWS_TOOLCHAIN}")
endif()
set(VELOMARK_WINDOWS_TOOLCHAIN "${VELOMARK_WINDOWS_TOOLCHAIN}" CACHE PATH
  "Folder of the Windows toolchain that scripts/windows-toolchain.sh built")
# try_compile runs CMake again with this file, and the folder must reach it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELOMARK_WINDOWS_TOOLCHAIN)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
if(VELOMARK_WINDOWS_TOOLCHAIN)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${VELOMARK_WINDOWS_TOOLCHAIN} ${VELOMARK_WINDOWS_TOOLCHAIN}/openssl)
  set(OPENSSL_ROOT_DIR ${VELOMARK_WINDOWS_TOOLCHAIN}/openssl)
endif()
# Programs (moc, rcc, uic) run here; libraries, headers and packages must be Windows ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
