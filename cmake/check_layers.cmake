# Keeps the product's layers a fact: reads every quoted #include of frame/,
# db/ and followup/ and fails, naming file and include, when one points the
# wrong way. Run as
#   cmake -DSOURCE_DIR=<checkout> "-DENTRY_FILES=<files>" -P check_layers.cmake
# by the build (before the product's libraries compile) and by the
# LayerIncludes test; the top CMakeLists.txt names the entry files
# (KELBOR_ENTRY_FILES).
#
# The layers, lowest first:
#   frame/ below   fixed texts, cipher, configuration, log, run context, lock,
#                  files; includes frame/ below only.
#   db/            one module per table group; includes db/ and frame/ below,
#                  never the log (statements do not log) and never followup/.
#                  The statement patterns' header is private to db/.
#   followup/      the rules and their run driver; includes followup/, db/
#                  and frame/ below. A rule never includes its driver.
#   entry points   the batch's and the catch-up's main and the start and end
#                  of a run they share (ENTRY_FILES); they may include every
#                  layer and nothing below includes them.
cmake_minimum_required(VERSION 3.25)

# Why "from" may not include "to", or "" when it may.
function(layer_violation from to out)
  set(why "")
  cmake_path(GET to PARENT_PATH to_dir)
  cmake_path(GET from PARENT_PATH from_dir)
  if(from IN_LIST KELBOR_ENTRY_FILES)
    # The top layer includes what it needs.
  elseif(to IN_LIST KELBOR_ENTRY_FILES)
    set(why "only the entry points include an entry point")
  elseif(NOT to_dir MATCHES "^(frame|db|followup)$")
    set(why "the product includes only frame/, db/ and followup/")
  elseif(from_dir STREQUAL "frame" AND NOT to_dir STREQUAL "frame")
    set(why "frame/ below the entry points includes only frame/")
  elseif(from_dir STREQUAL "db" AND to_dir STREQUAL "followup")
    set(why "db/ lies below followup/")
  elseif(from_dir STREQUAL "db" AND to STREQUAL "frame/log.h")
    set(why "statements do not log")
  elseif(to STREQUAL "db/statement_patterns.h" AND NOT from_dir STREQUAL "db")
    set(why "the statement patterns are private to db/")
  elseif(to MATCHES "^followup/run_driver\\.h$" AND NOT from MATCHES "^followup/run_driver\\.")
    set(why "a rule never includes its run driver")
  endif()
  set(${out} "${why}" PARENT_SCOPE)
endfunction()

if(NOT SOURCE_DIR OR NOT ENTRY_FILES)
  message(FATAL_ERROR "check_layers.cmake needs -DSOURCE_DIR=<checkout> and -DENTRY_FILES=<files>")
endif()
set(KELBOR_ENTRY_FILES ${ENTRY_FILES})
file(GLOB files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/frame/*.cpp ${SOURCE_DIR}/frame/*.h
     ${SOURCE_DIR}/db/*.cpp ${SOURCE_DIR}/db/*.h ${SOURCE_DIR}/followup/*.cpp
     ${SOURCE_DIR}/followup/*.h)
set(failures 0)
foreach(from IN LISTS files)
  file(STRINGS ${SOURCE_DIR}/${from} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" to "${line}")
    layer_violation(${from} ${to} why)
    if(why)
      message(SEND_ERROR "${from} includes \"${to}\": ${why}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) against the layers")
endif()
