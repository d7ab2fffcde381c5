# Installation and packages (cpack in the build folder; scripts/package.sh makes both):
# a Debian package from a Linux build, a zip of the programs and their texts from a Windows one.

# Installing takes what is built; scripts/package.sh builds only the packaged targets.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(_data ${PROJECT_SOURCE_DIR}/data)
set(_staged ${PROJECT_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${_staged})

set(CPACK_PACKAGE_NAME odflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the odflash developers")
set(CPACK_PACKAGE_CONTACT "odflash developers <odflash@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update utility for optical drives")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # The zip: both programs at the top of one folder, the model file under the name the window
  # reads, and the texts with CRLF line ends, which every Notepad shows.
  install(TARGETS odflash-gui odflash RUNTIME DESTINATION .)
  configure_file(${_data}/models.ini ${_staged}/odflash-gui.INI @ONLY NEWLINE_STYLE CRLF)
  configure_file(${_data}/package/README-Windows.txt ${_staged}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${_staged}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${_data}/package/THIRD-PARTY.txt ${_staged}/THIRD-PARTY.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${_staged}/odflash-gui.INI ${_staged}/README.txt ${_staged}/LICENSE.txt
                ${_staged}/THIRD-PARTY.txt DESTINATION .)
  add_custom_target(odflash_package_files)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

# --- The Debian package --------------------------------------------------------------------
include(GNUInstallDirs)
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/odflash)

# The window is built only where Qt 6 Widgets was found; the command line always is.
set(_programs odflash)
if(TARGET odflash-gui)
  list(APPEND _programs odflash-gui)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_data}/models.ini ${_data}/sim/drives.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/odflash)
# The Ansible modules and the example playbook that updates many machines' drives.
install(FILES ${PROJECT_SOURCE_DIR}/ansible/site.yml ${PROJECT_SOURCE_DIR}/ansible/inventory.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/odflash/ansible)
install(FILES ${PROJECT_SOURCE_DIR}/ansible/library/odflash.py ${PROJECT_SOURCE_DIR}/ansible/library/odflash_facts.py
        DESTINATION ${CMAKE_INSTALL_DATADIR}/odflash/ansible/library)

if(TARGET odflash-gui)
  # The window reads the model file at its own path plus ".INI": the installed one finds the
  # sample models, so that it starts from the desktop menu.
  file(CREATE_LINK ../share/odflash/models.ini ${_staged}/odflash-gui.INI SYMBOLIC)
  install(FILES ${_staged}/odflash-gui.INI DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_data}/package/odflash-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  file(CREATE_LINK odflash ${_staged}/odflash-gui.completion SYMBOLIC)
  install(FILES ${_staged}/odflash-gui.completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME odflash-gui)
endif()
install(FILES ${_data}/package/odflash.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME odflash)

# Man pages from each program's own help, so that they follow its options; made only by a
# native build with help2man (scripts/setup.sh installs it), and not by a sanitizer build,
# whose programs may end with a leak report.
find_program(ODFLASH_HELP2MAN help2man)
find_program(ODFLASH_GZIP gzip)
set(_man_pages)
if(ODFLASH_HELP2MAN AND ODFLASH_GZIP AND NOT CMAKE_CROSSCOMPILING AND NOT ODFLASH_SANITIZE)
  set(odflash_man_summary "firmware update utility for optical drives (command line)")
  set(odflash-gui_man_summary "firmware update utility for optical drives (window)")
  foreach(program ${_programs})
    add_custom_command(OUTPUT ${_staged}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
              "-DSUMMARY=${${program}_man_summary}" -DVERSION=${PROJECT_VERSION}
              -DINCLUDE=${_data}/package/${program}.h2m -DHELP2MAN=${ODFLASH_HELP2MAN}
              -DGZIP=${ODFLASH_GZIP} -DOUTPUT=${_staged}/${program}.1
              -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      DEPENDS ${program} ${_data}/package/${program}.h2m ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      COMMENT "Writing the man page ${program}.1" VERBATIM)
    list(APPEND _man_pages ${_staged}/${program}.1.gz)
  endforeach()
endif()

# Documentation as Debian wants it: compressed with gzip -9n, a changelog in Debian's format
# (this is a native package), and the machine-readable copyright file.
# The changelog's date is the commit's, so that a package made again has the same bytes.
string(TIMESTAMP _changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%cD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _commit_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(_commit_date)
    set(_changelog_date ${_commit_date})
  endif()
endif()
configure_file(${_data}/package/changelog.Debian.in ${_staged}/changelog.Debian @ONLY)
set(_docs)
if(ODFLASH_GZIP)
  foreach(pair "${_staged}/changelog.Debian|changelog" "${PROJECT_SOURCE_DIR}/README.md|README.md")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 name)
    add_custom_command(OUTPUT ${_staged}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_staged}/${name}
      COMMAND ${ODFLASH_GZIP} -9nf ${_staged}/${name}
      DEPENDS ${source} VERBATIM)
    list(APPEND _docs ${_staged}/${name}.gz)
  endforeach()
endif()
add_custom_target(odflash_package_files ALL DEPENDS ${_man_pages} ${_docs})
if(_man_pages)
  install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${_docs} ${_data}/package/copyright DESTINATION ${_doc})
install(FILES ${_data}/package/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME odflash)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_PACKAGE_DESCRIPTION
"odflash updates the firmware of CD-RW and DVD-ROM drives. The window,
odflash-gui, builds a flasher from a model file and a firmware image; the
flasher lists the drives whose identity and firmware revision fit and updates
one of them over SG_IO. The command line, odflash, scans drives, shows and
extracts what a flasher carries, builds flashers and updates drives, also on
emulated drives.")
include(CPack)
