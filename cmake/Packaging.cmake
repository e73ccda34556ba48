# What `cmake --install` puts where, and the packages CPack builds from it: a Debian
# package from the Linux build, a zip from the Windows build.
set(INSTALLER_PACKAGE_NAME talvo-installer)
set(INSTALLER_MAINTAINER "Talvo <installer@talvo.example>"
  CACHE STRING "Maintainer named in the Debian package")

# The packages are staged by an ordinary user whose umask may let the group write; the
# installed folders get the usual mode either way.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME ${INSTALLER_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Talvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "writes boot floppies and bootable CDs from one data file")
set(CPACK_PACKAGE_CONTACT "${INSTALLER_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip: the two programs, a sample data file and a README, in one folder that the user
  # unpacks and starts installer.exe from (it reads install.dat from the current folder).
  set(INSTALLER_SAMPLE_DATA "" CACHE FILEPATH
    "install.dat for the zip: the Linux build's sample/install.dat (the Windows build makes none)")
  install(TARGETS installer installer-export RUNTIME DESTINATION .)
  set(readme_title "${INSTALLER_PRODUCT_NAME} ${PROJECT_VERSION}")
  string(LENGTH "${readme_title}" title_length)
  string(REPEAT "=" ${title_length} readme_title_rule)
  configure_file(packaging/windows/README.txt.in packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)
  if(INSTALLER_SAMPLE_DATA)
    install(FILES ${INSTALLER_SAMPLE_DATA} DESTINATION .)
  else()
    message(STATUS "INSTALLER_SAMPLE_DATA is not set: the zip will hold no install.dat")
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  include(GNUInstallDirs)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${INSTALLER_PACKAGE_NAME})
  set(staged ${PROJECT_BINARY_DIR}/packaging)

  install(TARGETS installer installer-export mkinstalldat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Manual pages and the changelog are installed compressed, as man and the Debian tools
  # expect; -n keeps the build time out of the compressed files.
  set(compressed "")
  foreach(program installer installer-export mkinstalldat)
    configure_file(packaging/man/${program}.1.in ${staged}/${program}.1 @ONLY)
    list(APPEND compressed ${staged}/${program}.1)
  endforeach()
  configure_file(packaging/debian/changelog.in ${staged}/changelog @ONLY)
  list(APPEND compressed ${staged}/changelog)
  set(compressed_outputs "")
  foreach(file IN LISTS compressed)
    add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file})
    list(APPEND compressed_outputs ${file}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed_outputs})

  install(FILES ${staged}/installer.1.gz ${staged}/installer-export.1.gz
    ${staged}/mkinstalldat.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md packaging/debian/copyright ${staged}/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${PROJECT_BINARY_DIR}/sample/install.dat ${PROJECT_BINARY_DIR}/sample/install-de.dat
    DESTINATION ${doc_dir}/examples)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${INSTALLER_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies (libburn, the C++ run-time, the C library) are read off the
  # binaries by dpkg-shlibdeps, so they follow what the programs really link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # CPack puts the summary above this as the description's first line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The Talvo boot media installer turns one data file, install.dat, into boot
media: a 1.44 MB FAT12 floppy written raw to a floppy drive or an image file,
and a bootable ISO 9660 CD (Joliet names, El Torito floppy emulation) burnt
through libburn. Every text it shows comes from the data file.
.
installer shows the dialog in the terminal or runs one job in batch mode;
installer-export writes the same images to files; mkinstalldat packs texts and
files into install.dat.")
endif()

include(CPack)
