# Compares the dynamic symbol table of LIBRARY with the symbol list LIST:
# fails on any exported symbol not listed, any listed symbol missing, and
# any exported symbol whose default version is not the node DPXUT_0, so
# hosts bind to versioned names from the first release on.
# Script mode starts with old policies; IN_LIST below needs CMP0057.
cmake_minimum_required(VERSION 3.25)
set(NODE DPXUT_0)
execute_process(COMMAND nm -D --defined-only --with-symbol-versions ${LIBRARY}
  OUTPUT_VARIABLE nm_out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" nm_lines "${nm_out}")
set(exported "")
set(unversioned "")
foreach(line IN LISTS nm_lines)
  # "<value> <kind> <name>[@<node> | @@<node>]"; @@ marks the default
  # version, the one a host linking today binds to.
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ @]+)(@@?[^ ]*)?$")
    set(kind "${CMAKE_MATCH_1}")
    set(sym "${CMAKE_MATCH_2}")
    set(version "${CMAKE_MATCH_3}")
    # The version node itself appears as an absolute symbol.
    if(kind STREQUAL "A")
      continue()
    endif()
    list(APPEND exported "${sym}")
    if(NOT version STREQUAL "@@${NODE}")
      list(APPEND unversioned "${sym}${version}")
    endif()
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/symbol_list.cmake)
dpxut_read_symbol_list(${LIST} expected)

set(failed FALSE)
foreach(sym IN LISTS exported)
  if(NOT sym IN_LIST expected)
    message(SEND_ERROR "exported but not listed: ${sym}")
    set(failed TRUE)
  endif()
endforeach()
foreach(sym IN LISTS expected)
  if(NOT sym IN_LIST exported)
    message(SEND_ERROR "listed but not exported: ${sym}")
    set(failed TRUE)
  endif()
endforeach()
foreach(sym IN LISTS unversioned)
  message(SEND_ERROR "not in version node ${NODE}: ${sym}")
  set(failed TRUE)
endforeach()
list(LENGTH exported n)
if(failed)
  message(FATAL_ERROR "exported symbols of ${LIBRARY} differ from ${LIST} or lack version ${NODE}")
endif()
message(STATUS "${n} exported symbols match the list, all at version ${NODE}")
