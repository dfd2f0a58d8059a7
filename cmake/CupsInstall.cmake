# Install layout for CUPS: the filter where the scheduler runs filters and
# the driver source where cups-driverd compiles it on demand. DESTDIR is
# honoured, also for the absolute CUPS folders.

# CUPS's ServerBin: pkg-config's cups_serverbin (not shipped on Debian 12),
# else cups-config, else -DCUPS_SERVER_BIN=...
if(NOT CUPS_SERVER_BIN OR NOT CUPS_DATA_DIR)
  find_program(CUPS_CONFIG_EXECUTABLE cups-config)
endif()

function(quorin_cups_dir result pcvar configflag)
  set(dir "")
  if(PkgConfig_FOUND)
    pkg_get_variable(dir cups ${pcvar})
  endif()
  if(NOT dir AND CUPS_CONFIG_EXECUTABLE)
    execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} ${configflag}
                    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  set(${result} "${dir}" PARENT_SCOPE)
endfunction()

if(NOT CUPS_SERVER_BIN)
  quorin_cups_dir(dir cups_serverbin --serverbin)
  if(NOT dir)
    message(FATAL_ERROR "CUPS's ServerBin folder is unknown (no cups.pc, no cups-config): "
                        "pass -DCUPS_SERVER_BIN=/usr/lib/cups or install libcups2-dev")
  endif()
  set(CUPS_SERVER_BIN "${dir}" CACHE PATH "CUPS ServerBin; the filter goes into its filter/ folder")
endif()

if(NOT CUPS_DATA_DIR)
  quorin_cups_dir(dir cups_datadir --datadir)
  if(NOT dir)
    set(dir /usr/share/cups)
  endif()
  set(CUPS_DATA_DIR "${dir}" CACHE PATH "CUPS DataDir; the driver source goes into its drv/ folder")
endif()

install(TARGETS rastertoQuorin
        RUNTIME DESTINATION "${CUPS_SERVER_BIN}/filter"
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
install(FILES ${PROJECT_SOURCE_DIR}/man/rastertoQuorin.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
