# Run by cpack once it has made the packages. The package of debugging
# symbols gets the md5sums that dpkg expects, with paths from the root:
# CPack writes the path of its own staging directory there, which is wrong
# and differs from one build directory to the next. dpkg-deb packs it again
# with the times clamped to SOURCE_DATE_EPOCH and root as every owner.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.ddeb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${tree}/DEBIAN/md5sums" sums)
  string(REGEX REPLACE "  [^\n]*/_CPack_Packages/[^/\n]+/DEB/[^/\n]+/" "  "
         sums "${sums}")
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b "${tree}"
                          "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
