# The layer table, cmake/layers.txt, says what each layer may use. The library of a layer
# links the layers its entry there names (and with them what those use); scripts/check-layers
# checks every include against the same table. Editing the table reconfigures the build.
set(RS_LAYER_TABLE ${CMAKE_CURRENT_LIST_DIR}/layers.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RS_LAYER_TABLE})

# rs_layer_uses(OUT LAYER): the libraries (rs_<layer>) of the layers that the table's entry
# for LAYER names, in table order; a single header counts as its layer. A layer without an
# entry, or one that names something outside src/, stops the configuration.
#   rs_layer_uses(uses settings)   # rs_dialogs;rs_reader;rs_util
function(rs_layer_uses out layer)
  file(STRINGS ${RS_LAYER_TABLE} lines)
  set(entry "")
  set(found OFF)
  set(uses)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*$" "" line "${line}")
    if(line MATCHES "^[ \t]+([^ \t].*)$")
      set(words ${CMAKE_MATCH_1})  # uses going on from the line above
    elseif(line MATCHES "^([^ \t:]+):(.*)$")
      set(entry ${CMAKE_MATCH_1})
      set(words ${CMAKE_MATCH_2})
      if(entry STREQUAL layer)
        set(found ON)
      endif()
    else()
      continue()
    endif()
    if(NOT entry STREQUAL layer)
      continue()
    endif()
    separate_arguments(words UNIX_COMMAND "${words}")
    foreach(use IN LISTS words)
      string(REGEX REPLACE "/.*$" "" use_layer "${use}")
      if(use_layer MATCHES "^(standins|tests|bench|fuzz|runtime)$")
        message(FATAL_ERROR "${RS_LAYER_TABLE}: the layer ${layer} uses ${use}; "
                            "nothing in src/ may know what lies outside it")
      endif()
      list(APPEND uses rs_${use_layer})
    endforeach()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${RS_LAYER_TABLE} has no entry for the layer ${layer}")
  endif()
  list(REMOVE_DUPLICATES uses)
  set(${out} ${uses} PARENT_SCOPE)
endfunction()

# rs_layer_below(OUT LAYER): the layers LAYER may use, those its entry names and what they
# use in turn, without the rs_ prefix.
#   rs_layer_below(below dialogs)   # toolkit;host;platform
function(rs_layer_below out layer)
  rs_layer_uses(uses ${layer})
  set(below)
  foreach(lib IN LISTS uses)
    string(REGEX REPLACE "^rs_" "" used ${lib})
    rs_layer_below(more ${used})
    list(APPEND below ${used} ${more})
  endforeach()
  list(REMOVE_DUPLICATES below)
  set(${out} ${below} PARENT_SCOPE)
endfunction()

# rs_layer_includes(TARGET LAYER): the target sees of src/ only its own layer and the layers
# below it: its include root is a folder of links to those layers' folders of src/
# (build/<preset>/layer-include/LAYER/<layer> -> src/<layer>), so an include of a layer it
# may not use is not found. The links are made again at every configuration. Debug
# information and __FILE__ name the headers by their paths under src/, as before.
function(rs_layer_includes target layer)
  rs_layer_below(below ${layer})
  set(root ${CMAKE_BINARY_DIR}/layer-include/${layer})
  file(REMOVE_RECURSE ${root})  # removes the links, not what they point to
  file(MAKE_DIRECTORY ${root})
  foreach(visible IN LISTS layer below)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${visible} ${root}/${visible} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${root}=${PROJECT_SOURCE_DIR}/src)
endfunction()

# rs_layer(NAME DIR [LIBS lib...]): a static library of the .cpp files of DIR, a folder of
# src/ (NAME is rs_<folder>). It links the layers the table's entry for the folder names,
# and LIBS, libraries that are not layers (system libraries, the host's imports); it
# includes from its own layer and the layers below it only (rs_layer_includes).
# Platform pairs are picked by suffix: *_win.cpp on Windows, *_posix.cpp elsewhere; the
# Windows code of one architecture by *_x86.cpp and *_x64.cpp (RS_WIN_ARCH).
function(rs_glob_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_win\\.cpp$")
  endif()
  foreach(arch x86 x64)
    if(NOT RS_WIN_ARCH STREQUAL arch)
      list(FILTER srcs EXCLUDE REGEX "_${arch}\\.cpp$")
    endif()
  endforeach()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

function(rs_layer name dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(RELATIVE_PATH layer ${PROJECT_SOURCE_DIR}/src ${dir})
  if(NOT name STREQUAL "rs_${layer}")
    message(FATAL_ERROR "rs_layer: the library of src/${layer} is rs_${layer}, not ${name}")
  endif()
  rs_layer_uses(uses ${layer})
  rs_glob_sources(srcs ${dir})
  add_library(${name} STATIC ${srcs})
  rs_layer_includes(${name} ${layer})
  target_link_libraries(${name} PUBLIC ${uses} ${ARG_LIBS})
  # Optimised builds optimise the layers for size: their work is a few calls per dialog,
  # each waiting on the window system, a file or the reader library, and -O2/-O3 only made
  # their code larger (a third of the DLL). The text replace (rs_util) keeps the speed
  # options: it is the module's one loop over large data.
  if(NOT name STREQUAL "rs_util")
    target_compile_options(${name} PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-Os>)
  endif()
endfunction()
