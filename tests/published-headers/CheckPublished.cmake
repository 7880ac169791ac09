# What a user of the libraries can include, with the include path of a target that links them
# all: every published header compiles on its own, and no other header of a library folder can
# be found at all.
#   cmake -DCXX=<compiler> -DBUILD=<build dir> -DWORK=<scratch dir>
#         -DLIBS=<target>=<folder>|... -DINCLUDES=<dir>|... -P CheckPublished.cmake
string(REPLACE "|" ";" LIBS "${LIBS}")
string(REPLACE "|" ";" INCLUDES "${INCLUDES}")
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(includes "")
foreach(dir IN LISTS INCLUDES)
  list(APPEND includes -I${dir})
endforeach()

set(failures "")
set(published 0)
set(hidden 0)
foreach(pair IN LISTS LIBS)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 folder)
  file(GLOB headers RELATIVE ${folder} "${folder}/*.h")
  foreach(h IN LISTS headers)
    if(h MATCHES "_win32\\.h$")
      continue()  # Windows-only headers do not compile here either way
    endif()
    file(WRITE ${WORK}/${h}.cpp "#include \"${h}\"\n")
    execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only ${includes} ${WORK}/${h}.cpp
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(EXISTS ${BUILD}/public/${target}/${h})
      math(EXPR published "${published} + 1")
      if(NOT rc EQUAL 0)
        list(APPEND failures "${target} publishes ${h}, but it does not compile on its own:\n${out}")
      endif()
    else()
      math(EXPR hidden "${hidden} + 1")
      if(rc EQUAL 0 OR NOT out MATCHES "${h}'?:? (No such file|file not found)")
        list(APPEND failures "${h} of ${target} is not published, but a user can include it:\n${out}")
      endif()
    endif()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "${published} published headers compile on their own; ${hidden} others are hidden")
