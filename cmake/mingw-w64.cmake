# Cross build for 64-bit Windows with MinGW-w64 (POSIX-thread compilers), run under Wine.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Third-party libraries come from the prefix filled by scripts/windows-deps:
#   -DMRV_WIN_PREFIX=... or $MRV_WIN_DEPS, default ${XDG_CACHE_HOME:-$HOME/.cache}/mrvdbconv/mingw-deps.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MRV_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${MRV_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MRV_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER  ${MRV_MINGW_HOST}-windres)
set(CMAKE_AR           ${MRV_MINGW_HOST}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${MRV_MINGW_HOST}-ranlib CACHE FILEPATH "")

if(NOT MRV_WIN_PREFIX)
  if(DEFINED ENV{MRV_WIN_DEPS} AND NOT "$ENV{MRV_WIN_DEPS}" STREQUAL "")
    set(MRV_WIN_PREFIX "$ENV{MRV_WIN_DEPS}")
  elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(MRV_WIN_PREFIX "$ENV{XDG_CACHE_HOME}/mrvdbconv/mingw-deps")
  else()
    set(MRV_WIN_PREFIX "$ENV{HOME}/.cache/mrvdbconv/mingw-deps")
  endif()
endif()
set(MRV_WIN_PREFIX "${MRV_WIN_PREFIX}" CACHE PATH "Prefix holding the cross-built third-party libraries")
# try_compile projects re-read this file; hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MRV_WIN_PREFIX)

# Only the MinGW sysroot and our prefix are searched for headers and libraries, never the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${MRV_MINGW_HOST} ${MRV_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Executables must run without any DLL beside them (static libraries are picked in
# MrvDependencies.cmake, after the platform files have set their own search suffixes).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine through a wrapper that keeps one headless Wine prefix per build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "${CMAKE_CURRENT_LIST_DIR}/WineRun.sh")
