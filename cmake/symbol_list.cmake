# Reads abi/exported_symbols.txt into a list of symbol names: one per line,
# blank lines and '#' comments skipped. Used by the build (linker script) and
# by the exported-symbol check, so both read the list the same way.
function(dpxut_read_symbol_list path out)
  file(STRINGS ${path} lines)
  set(symbols "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    list(APPEND symbols "${line}")
  endforeach()
  set(${out} "${symbols}" PARENT_SCOPE)
endfunction()
