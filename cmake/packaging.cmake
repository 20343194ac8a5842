# What is installed and how it is packed: on Linux a Debian package
# (cpack --config build/CPackConfig.cmake) with the manual page and the
# change log compressed; on Windows a .zip with tolmex.exe, the manual page
# as plain text and the Windows README.
include(GNUInstallDirs)
configure_file(doc/tolmex.1.in tolmex.1 @ONLY)
set(CPACK_PACKAGE_NAME tolmex)
if(WIN32)
  # Both texts in UTF-8 with a byte-order mark and CR LF line ends, so that
  # Notepad and `type` show them as they are; no word is split at a line's
  # end (-rHY=0), so that a search finds it.
  find_program(TOLMEX_GROFF groff REQUIRED)
  set(text ${PROJECT_SOURCE_DIR}/cmake/windows-text.sh)
  add_custom_command(OUTPUT tolmex.txt
    COMMAND ${TOLMEX_GROFF} -k -rW1 -rHY=0 -man -Tutf8 -P-cbou
            ${PROJECT_BINARY_DIR}/tolmex.1 | sh ${text} > tolmex.txt
    DEPENDS ${PROJECT_BINARY_DIR}/tolmex.1 ${text})
  add_custom_command(OUTPUT README.txt
    COMMAND sh ${text} < ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
            > README.txt
    DEPENDS packaging/windows/README.txt ${text})
  add_custom_target(manual_text ALL DEPENDS tolmex.txt README.txt)
  # The installer, tolmex-x64.msi or tolmex-x86.msi.
  include(cmake/msi.cmake)
  install(TARGETS tolmex RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/tolmex.txt ${PROJECT_BINARY_DIR}/README.txt
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # The archive names its architecture: windows-x86_64 or windows-x86.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_SYSTEM_NAME windows-x86_64)
  else()
    set(CPACK_SYSTEM_NAME windows-x86)
  endif()
else()
  # Installed compressed, the way Debian ships them (gzip -n: no name or
  # time stamp, so builds repeat).
  foreach(pair "tolmex.1|${PROJECT_BINARY_DIR}/tolmex.1"
               "changelog|${PROJECT_SOURCE_DIR}/packaging/changelog")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 source)
    add_custom_command(OUTPUT ${name}.gz
      COMMAND gzip -9n -c ${source} > ${name}.gz
      DEPENDS ${source})
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS tolmex.1.gz changelog.gz)
  install(TARGETS tolmex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/tolmex.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_CONTACT "tolmex developers <tolmex@example.com>")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity | kdialog | x11-utils")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "bridge between a point-of-sale host and its payment client")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tolmex serves one payment request per run: it resets the outcome in the
result INI file, logs the request, copies and runs the payment client and
removes the copy.")
  # The debugging symbols go to a separate tolmex-dbgsym package.
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/fix-dbgsym.cmake)
endif()
if(TOLMEX_SOURCE_DATE_EPOCH)
  # Read by cpack when it runs: the time of every member of the archives.
  configure_file(cmake/cpack-options.cmake.in cpack-options.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-options.cmake)
endif()
include(CPack)
