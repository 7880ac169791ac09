# Compiler warnings, sanitizers and the source-globbing helper shared by every folder.

option(MRV_WERROR "Treat compiler warnings as errors (the test command's builds set it)" OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra)
  if(MRV_WERROR)
    add_compile_options(-Werror)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      # GCC 12 at -O3 warns about overlapping copies inside its own std::string code (GCC bug
      # 105651); the warning stays visible but does not stop the build.
      add_compile_options(-Wno-error=restrict)
    endif()
  endif()
endif()

if(MRV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  if(MINGW)
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endif()

# mrv_platform_sources(<out-var> <dir>)
# Collects every .cpp under <dir> (not recursive) and keeps only the platform half that
# matches the build: *_win32.cpp on Windows, *_posix.cpp elsewhere.
function(mrv_platform_sources out dir)
  file(GLOB _all CONFIGURE_DEPENDS "${dir}/*.cpp")
  set(_keep "")
  foreach(f IN LISTS _all)
    if(f MATCHES "_win32\\.cpp$")
      if(WIN32)
        list(APPEND _keep ${f})
      endif()
    elseif(f MATCHES "_posix\\.cpp$")
      if(NOT WIN32)
        list(APPEND _keep ${f})
      endif()
    else()
      list(APPEND _keep ${f})
    endif()
  endforeach()
  set(${out} ${_keep} PARENT_SCOPE)
endfunction()

if(MRV_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# mrv_publish_headers(<target> <dir> [<header>...])
# Users of a library see only the headers it names here, its facade. Each named header gets a
# one-line forwarding header in <build>/public/<target>, the only include folder the library
# publishes; what a facade header includes in turn is found beside it, so users reach the rest
# of the folder only through the facade. The folder itself is private to the library. The
# library's own tests, fuzzers and benchmarks look inside through <target>_internals.
function(mrv_publish_headers target dir)
  set(_pub ${CMAKE_BINARY_DIR}/public/${target})
  file(GLOB _old "${_pub}/*.h")
  foreach(h IN LISTS ARGN)
    if(NOT EXISTS ${dir}/${h})
      message(FATAL_ERROR "${target}: the published header ${h} is not in ${dir}")
    endif()
    file(CONFIGURE OUTPUT ${_pub}/${h}
         CONTENT "#pragma once\n// Published by ${target}; the header itself is in its library's folder.\n#include \"${dir}/${h}\"\n")
    list(REMOVE_ITEM _old ${_pub}/${h})
  endforeach()
  if(_old)
    file(REMOVE ${_old})  # headers no longer published
  endif()
  file(MAKE_DIRECTORY ${_pub})
  target_include_directories(${target} PUBLIC ${_pub} PRIVATE ${dir})
  add_library(${target}_internals INTERFACE)
  target_include_directories(${target}_internals INTERFACE ${dir})
  target_link_libraries(${target}_internals INTERFACE ${target})
endfunction()

# mrv_library(<name> <dir> [PUBLIC_HEADERS <header>...]): a static library of the folder's
# platform sources that publishes the headers named.
function(mrv_library name dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "PUBLIC_HEADERS")
  mrv_platform_sources(_src ${dir})
  add_library(${name} STATIC ${_src})
  mrv_publish_headers(${name} ${dir} ${arg_PUBLIC_HEADERS})
endfunction()
