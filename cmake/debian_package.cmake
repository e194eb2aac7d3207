# The Linux package, tavrin-msg-to-pst_VERSION_ARCH.deb (scripts/build-deb
# makes it with `cpack -G DEB`): what `cmake --install` puts in place (the
# programs, the help pages, the desktop entry and the icons), the manual
# pages, the copyright file and the changelog. Its Depends line comes from
# dpkg-shlibdeps over the programs, so the package takes the Qt 6 of the
# system it is installed on.
if(WIN32)
  return()
endif()
include(GNUInstallDirs)

# The manual pages and the changelog, as Debian installs them: version filled
# in, compressed without a time stamp (gzip -n), so that two builds of one
# version give the same bytes.
find_program(TAVRIN_GZIP gzip REQUIRED)
set(TAVRIN_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package)
function(tavrin_gzip source output)
  execute_process(COMMAND ${TAVRIN_GZIP} -9 -n -c INPUT_FILE ${source} OUTPUT_FILE ${output}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source}: ${failed}")
  endif()
endfunction()
set(TAVRIN_MAN_PAGES msg2pst)
if(TAVRIN_BUILD_UI)
  list(APPEND TAVRIN_MAN_PAGES tavrin-msg-to-pst)
endif()
foreach(page IN LISTS TAVRIN_MAN_PAGES)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${TAVRIN_PACKAGE_FILES}/${page}.1 @ONLY)
  tavrin_gzip(${TAVRIN_PACKAGE_FILES}/${page}.1 ${TAVRIN_PACKAGE_FILES}/${page}.1.gz)
  install(FILES ${TAVRIN_PACKAGE_FILES}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/resources/linux/changelog ${TAVRIN_PACKAGE_FILES}/changelog COPYONLY)
tavrin_gzip(${TAVRIN_PACKAGE_FILES}/changelog ${TAVRIN_PACKAGE_FILES}/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/resources/linux/copyright ${TAVRIN_PACKAGE_FILES}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavrin-msg-to-pst)

set(TAVRIN_PACKAGE_MAINTAINER "Tavrin <packages@tavrin.example>" CACHE STRING
    "The Maintainer of the Debian package: a name and an e-mail address")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin-msg-to-pst)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert folders of Outlook .msg files into Outlook .pst files")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavrin MSG to PST Converter turns folders of Outlook message files (.msg)\n"
    "into Outlook data files (.pst), with every message whole: properties,\n"
    "bodies, recipients, attachments and embedded messages. It reads and writes\n"
    "the files itself: no Outlook and no MAPI are needed, and source files are\n"
    "never changed.\n"
    "\n"
    "The package holds the wizard (tavrin-msg-to-pst), with its desktop entry\n"
    "and help pages, and the command-line tool msg2pst, which converts, and\n"
    "inspects and strictly verifies message and data files.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVRIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The wizard's windows are drawn in Tahoma, which Debian ships with wine's
# fonts; without it a close stand-in is used.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-wine)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
