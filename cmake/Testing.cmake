# GoogleTest for both builds, and rs_add_test() for our test programs.
#
# Each test program is one CTest test; it writes its GoogleTest results as XML
# into build/<preset>/test-results, where scripts/test counts the cases.
enable_testing()

if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest as sources too; build them with the cross compiler.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)
    if(TARGET ${t})
      # GoogleTest's own sources are not ours to keep warning-free or in code page 936.
      target_compile_options(${t} PRIVATE -w -fexec-charset=UTF-8)
    endif()
  endforeach()
  # GoogleTest's own build defines the GTest:: aliases.
else()
  find_package(GTest REQUIRED)
endif()

set(RS_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${RS_TEST_RESULTS})
# Under Wine the Unix file system is drive Z:.
if(CMAKE_CROSSCOMPILING)
  set(RS_TEST_RESULTS_ARG "Z:${RS_TEST_RESULTS}")
else()
  set(RS_TEST_RESULTS_ARG "${RS_TEST_RESULTS}")
endif()

# rs_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT seconds] [DESKTOP] [HEAP_CHECKS])
# DESKTOP: the program makes top-level windows or looks them up by class. Under Wine every
# program of a run shares one desktop, so such programs run one at a time.
# HEAP_CHECKS: under Wine the program runs with Windows' own heap checks, and any heap
# warning fails it (cmake/wine-run.sh, RS_WINE_HEAP_CHECKS).
function(rs_add_test name)
  cmake_parse_arguments(ARG "DESKTOP;HEAP_CHECKS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gtest)
  add_test(NAME ${name}
           COMMAND ${name} --gtest_output=xml:${RS_TEST_RESULTS_ARG}/${name}.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_DESKTOP AND CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_desktop)
  endif()
  if(ARG_HEAP_CHECKS AND CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT RS_WINE_HEAP_CHECKS=1)
  endif()
endfunction()
