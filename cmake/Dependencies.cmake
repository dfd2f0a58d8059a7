# The libraries the filter is built on, each found once as an imported target.

# libcups ships no pkg-config file on Debian 12; fall back to the library itself.
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(CUPS QUIET IMPORTED_TARGET cups)
endif()
add_library(quorin_cups INTERFACE)
if(CUPS_FOUND)
  target_link_libraries(quorin_cups INTERFACE PkgConfig::CUPS)
else()
  find_path(CUPS_INCLUDE_DIR cups/raster.h REQUIRED)
  find_library(CUPS_LIBRARY cups REQUIRED)
  target_include_directories(quorin_cups INTERFACE ${CUPS_INCLUDE_DIR})
  target_link_libraries(quorin_cups INTERFACE ${CUPS_LIBRARY})
endif()

# JBIG-KIT (Debian: libjbig-dev) has no pkg-config file either.
find_path(JBIG_INCLUDE_DIR jbig.h REQUIRED)
find_library(JBIG_LIBRARY jbig REQUIRED)
add_library(JBIG::jbig UNKNOWN IMPORTED)
set_target_properties(JBIG::jbig PROPERTIES IMPORTED_LOCATION ${JBIG_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${JBIG_INCLUDE_DIR})
