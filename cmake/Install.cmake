# `cmake --install` and `cpack -G DEB`: kestrel in bin/, the kernel library
# in lib/, Kestrel.h in include/, and a man page made from --help.
install(TARGETS kestrel_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kestrel
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/kernel/Kestrel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_program(HELP2MAN help2man)
  if(HELP2MAN)
    set(KESTREL_MAN_PAGE ${CMAKE_BINARY_DIR}/man/kestrel.1)
    # The overview from --help, then each command's own help as a section.
    set(commands ${CMAKE_BINARY_DIR}/man/commands.h2m)
    add_custom_command(OUTPUT ${KESTREL_MAN_PAGE}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/man_commands.sh $<TARGET_FILE:kestrel_cli> ${commands}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --include ${commands}
              --name "find and recover deleted files on NTFS and FAT volumes"
              --output ${KESTREL_MAN_PAGE} $<TARGET_FILE:kestrel_cli>
      DEPENDS kestrel_cli ${CMAKE_SOURCE_DIR}/cmake/man_commands.sh
      VERBATIM)
    add_custom_target(kestrel_man ALL DEPENDS ${KESTREL_MAN_PAGE})
    install(FILES ${KESTREL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

# cpack installs what is built; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Restorix")
set(CPACK_PACKAGE_CONTACT "Restorix <kestrel@restorix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Undelete for NTFS and FAT volumes and disk images")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
