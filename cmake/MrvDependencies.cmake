# Third-party libraries. On Linux they come from Debian packages; in the MinGW cross build
# from the prefix that scripts/windows-deps fills (MRV_WIN_PREFIX, passed by the toolchain).

if(MINGW)
  # The cross build links everything statically: take lib*.a, never a DLL import library.
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()

find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(BZip2 REQUIRED)
find_package(SQLite3 REQUIRED)

# Crypto++ ships no CMake config on Debian; locate header and library directly.
find_path(CRYPTOPP_INCLUDE_DIR NAMES cryptopp/cryptlib.h)
find_library(CRYPTOPP_LIBRARY NAMES cryptopp crypto++)
if(NOT CRYPTOPP_INCLUDE_DIR OR NOT CRYPTOPP_LIBRARY)
  message(FATAL_ERROR "Crypto++ not found (install libcrypto++-dev, or run scripts/windows-deps)")
endif()
add_library(mrv_cryptopp INTERFACE)
target_include_directories(mrv_cryptopp SYSTEM INTERFACE ${CRYPTOPP_INCLUDE_DIR})
target_link_libraries(mrv_cryptopp INTERFACE ${CRYPTOPP_LIBRARY})

# ODBC: unixODBC on Linux, odbc32 on Windows.
if(WIN32)
  add_library(mrv_odbc INTERFACE)
  target_link_libraries(mrv_odbc INTERFACE odbc32)
else()
  find_package(ODBC REQUIRED)
  add_library(mrv_odbc INTERFACE)
  target_link_libraries(mrv_odbc INTERFACE ODBC::ODBC)
endif()

# PostgreSQL client library (libpq) for the native PostgreSQL provider. Optional: a build
# without it (the Windows cross build, whose prefix has none) refuses that provider by name.
add_library(mrv_libpq INTERFACE)
find_package(PostgreSQL QUIET)
if(PostgreSQL_FOUND)
  target_link_libraries(mrv_libpq INTERFACE PostgreSQL::PostgreSQL)
  target_compile_definitions(mrv_libpq INTERFACE MRV_HAVE_LIBPQ=1)
else()
  message(STATUS "PostgreSQL client library not found: no native PostgreSQL provider")
endif()

# Header-only libraries (CLI11, nlohmann-json) come from the host's include folder; in the cross
# build the toolchain exposes a folder that holds only those headers.
find_path(CLI11_INCLUDE_DIR NAMES CLI/CLI.hpp)
find_path(NLOHMANN_JSON_INCLUDE_DIR NAMES nlohmann/json.hpp)
add_library(mrv_headeronly INTERFACE)
if(CLI11_INCLUDE_DIR)
  target_include_directories(mrv_headeronly SYSTEM INTERFACE ${CLI11_INCLUDE_DIR})
endif()
if(NLOHMANN_JSON_INCLUDE_DIR)
  target_include_directories(mrv_headeronly SYSTEM INTERFACE ${NLOHMANN_JSON_INCLUDE_DIR})
endif()
