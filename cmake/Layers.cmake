# rs_layer(NAME DIR [DEPS lib...]): a static library of the .cpp files of DIR.
# Platform pairs are picked by suffix: *_win.cpp on Windows, *_posix.cpp elsewhere.
function(rs_glob_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

function(rs_layer name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  rs_glob_sources(srcs ${dir})
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  # Optimised builds optimise the layers for size: their work is a few calls per dialog,
  # each waiting on the window system, a file or the reader library, and -O2/-O3 only made
  # their code larger (a third of the DLL). The text replace (rs_util) keeps the speed
  # options: it is the module's one loop over large data.
  if(NOT name STREQUAL "rs_util")
    target_compile_options(${name} PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-Os>)
  endif()
endfunction()
