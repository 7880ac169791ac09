# Compiler warnings, sanitizers and the source-globbing helper shared by every folder.

option(MRV_WERROR "Treat compiler warnings as errors (the test command's builds set it)" OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra)
  if(MRV_WERROR)
    add_compile_options(-Werror)
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

# mrv_library(<name> <dir>): a static library of the folder's platform sources.
function(mrv_library name dir)
  mrv_platform_sources(_src ${dir})
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${dir})
endfunction()
