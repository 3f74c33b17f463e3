# Runs at install time and writes dpxut.pc for the prefix actually installed
# to, which `cmake --install --prefix` may change after configuration.
# In: DPXUT_PC_IN, DPXUT_PC_OUT, DPXUT_PC_VERSION, DPXUT_LIBDIR and
# DPXUT_INCLUDEDIR (as configured, relative to the prefix or absolute),
# and CMAKE_INSTALL_PREFIX as the install script sets it.
set(DPXUT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
# Relative directories are written through ${prefix}, so the file reads as
# pkg-config files usually do and --define-variable=prefix=... works.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${DPXUT_${kind}}")
    set(DPXUT_PC_${kind} "${DPXUT_${kind}}")
  else()
    set(DPXUT_PC_${kind} "\${prefix}/${DPXUT_${kind}}")
  endif()
endforeach()
configure_file("${DPXUT_PC_IN}" "${DPXUT_PC_OUT}" @ONLY)
