# What `cmake --install` puts where (GNU layout): the shared library with its
# SONAME and development links, dpxut.h, a pkg-config file, a CMake package
# exporting dpxut::dpxut, and the tools. The internal static library, the
# tests, benchmarks and fuzz targets stay in the build tree.
# Components: "runtime" (library, tools) and "development" (the rest).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Projects that add this tree with add_subdirectory use the same name as
# those that find the installed package.
add_library(dpxut::dpxut ALIAS dpxut)

install(TARGETS dpxut EXPORT dpxutTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/dpxut.h ${PROJECT_SOURCE_DIR}/include/dpxut_stream.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The tools find the library through a run path relative to themselves, so
# any prefix works; none is set where the loader looks anyway.
set(DPXUT_TOOLS_RUNPATH OFF)
if(DPXUT_TOOL_TARGETS)
  if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set(DPXUT_TOOLS_RUNPATH ON)
    file(RELATIVE_PATH dpxut_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(${DPXUT_TOOL_TARGETS} PROPERTIES
      INSTALL_RPATH "$ORIGIN/${dpxut_bin_to_lib}")
  endif()
  install(TARGETS ${DPXUT_TOOL_TARGETS}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# dpxut.pc carries absolute paths, so it is written when installing, once
# the prefix is final (`cmake --install --prefix` may still change it).
set(DPXUT_PC_OUT ${PROJECT_BINARY_DIR}/pkgconfig/dpxut.pc)
install(CODE "
  set(DPXUT_PC_IN [[${PROJECT_SOURCE_DIR}/cmake/dpxut.pc.in]])
  set(DPXUT_PC_OUT [[${DPXUT_PC_OUT}]])
  set(DPXUT_PC_VERSION [[${PROJECT_VERSION}]])
  set(DPXUT_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])
  set(DPXUT_INCLUDEDIR [[${CMAKE_INSTALL_INCLUDEDIR}]])
  include([[${PROJECT_SOURCE_DIR}/cmake/dpxut_pc.cmake]])
  " COMPONENT development)
install(FILES ${DPXUT_PC_OUT}
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# find_package(dpxut): the config file, its version file (a 0.y host takes
# any 0.x library, as the SONAME libdpxut.so.0 promises) and the targets.
set(DPXUT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dpxut)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/dpxutConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dpxutConfig.cmake
  INSTALL_DESTINATION ${DPXUT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dpxutConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dpxutConfig.cmake ${PROJECT_BINARY_DIR}/dpxutConfigVersion.cmake
  DESTINATION ${DPXUT_CMAKE_DIR} COMPONENT development)
install(EXPORT dpxutTargets NAMESPACE dpxut::
  DESTINATION ${DPXUT_CMAKE_DIR} COMPONENT development)
