# The printer application's systemd service. The unit folder comes from
# systemd.pc when installing under /usr. The spool stays in /var whatever the
# prefix, beside the state PAPPL keeps in /var/lib.
set(QUORIN_SPOOL_DIR /var/spool/quorin-printer-app
    CACHE PATH "Spool folder the service hands the printer application")

if(NOT QUORIN_SYSTEMD_UNIT_DIR)
  set(dir "")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    if(PkgConfig_FOUND)
      pkg_get_variable(dir systemd systemdsystemunitdir)
    endif()
    if(NOT dir)
      set(dir /lib/systemd/system)
    endif()
  else()
    set(dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
  endif()
  set(QUORIN_SYSTEMD_UNIT_DIR "${dir}" CACHE PATH "Where the service unit goes")
endif()

set(QUORIN_APP_PATH "${CMAKE_INSTALL_FULL_SBINDIR}/quorin-printer-app")
configure_file(${PROJECT_SOURCE_DIR}/systemd/quorin-printer-app.service.in
               ${CMAKE_BINARY_DIR}/quorin-printer-app.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quorin-printer-app.service DESTINATION "${QUORIN_SYSTEMD_UNIT_DIR}")
