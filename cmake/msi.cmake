# The Windows Installer package of the Windows build, made with wixl
# (msitools) from packaging/windows/tolmex.wxs.in in the build tree, where
# the files it holds are: tolmex-x64.msi or tolmex-x86.msi, built with
# everything else. A build without wixl makes none and says so.
#
# Each architecture has its own upgrade code, fixed here for good: an
# installed tolmex of that architecture is replaced by a newer one, and one
# of the other architecture by either version (one tolmex per till: the two
# would share the event source's key). The product code is new with every
# version, derived from it, and the components' codes stay. wixl gives each
# build a package code of its own and stamps the time it ran
# (tests/check_reproducible.sh compares the rest).
find_program(TOLMEX_WIXL wixl)
find_program(TOLMEX_MSIBUILD msibuild)
set(x64_upgrade 340D566F-26DE-4700-B5FF-A5BEB08F9EE3)
set(x86_upgrade E2042D64-DFEF-4114-808D-B83199C12671)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TOLMEX_MSI_ARCH x64)
  set(TOLMEX_MSI_BITS 64)
  set(TOLMEX_MSI_UPGRADE ${x64_upgrade})
  set(TOLMEX_MSI_OTHER_UPGRADE ${x86_upgrade})
  set(TOLMEX_MSI_PROGRAM_FILES ProgramFiles64Folder)
  set(TOLMEX_MSI_WIN64 yes)
else()
  set(TOLMEX_MSI_ARCH x86)
  set(TOLMEX_MSI_BITS 32)
  set(TOLMEX_MSI_UPGRADE ${x86_upgrade})
  set(TOLMEX_MSI_OTHER_UPGRADE ${x64_upgrade})
  set(TOLMEX_MSI_PROGRAM_FILES ProgramFilesFolder)
  set(TOLMEX_MSI_WIN64 no)
endif()
foreach(pair "PRODUCT|product ${PROJECT_VERSION}" "PROGRAM|component Program"
             "DOCUMENTS|component Documents")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 code)
  list(GET pair 1 name)
  string(UUID TOLMEX_MSI_${code} NAMESPACE 42D0EA56-24BB-4A89-B8B8-B02BA14C857B
         NAME "${name} ${TOLMEX_MSI_ARCH}" TYPE SHA1 UPPER)
endforeach()
set(TOLMEX_MSI tolmex-${TOLMEX_MSI_ARCH}.msi)
configure_file(packaging/windows/tolmex.wxs.in tolmex.wxs @ONLY)
# What wixl cannot say is set in its package afterwards (msibuild, of
# msitools): the older version is removed inside the new one's transaction
# (after InstallInitialize, so that a failed install puts it back), the
# install location is set before the product is registered, and tolmex.exe
# carries its file version (that of its version resource), so that repairs
# and updates compare versions; a versioned file has no hash.
set(file_version
    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
set(TOLMEX_MSI_FIXES
  "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'RemoveExistingProducts'"
  "UPDATE InstallExecuteSequence SET Sequence = 1401 WHERE Action = 'SetARPINSTALLLOCATION'"
  "UPDATE File SET Version = '${file_version}', Language = '1033' WHERE File = 'tolmex.exe'"
  "DELETE FROM MsiFileHash WHERE File_ = 'tolmex.exe'")
list(TRANSFORM TOLMEX_MSI_FIXES PREPEND "-q;")
if(TOLMEX_WIXL AND TOLMEX_MSIBUILD)
  add_custom_command(OUTPUT ${TOLMEX_MSI}
    COMMAND ${TOLMEX_WIXL} --arch ${TOLMEX_MSI_ARCH} -o ${TOLMEX_MSI}
            tolmex.wxs
    COMMAND ${TOLMEX_MSIBUILD} ${TOLMEX_MSI} ${TOLMEX_MSI_FIXES}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tolmex.wxs tolmex
            ${CMAKE_CURRENT_BINARY_DIR}/tolmex.txt
            ${CMAKE_CURRENT_BINARY_DIR}/README.txt
    COMMENT "Building ${TOLMEX_MSI} with wixl and msibuild"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${TOLMEX_MSI})
  set(TOLMEX_MSI_PATH ${CMAKE_CURRENT_BINARY_DIR}/${TOLMEX_MSI})
else()
  message(STATUS "wixl or msibuild not found: no ${TOLMEX_MSI} "
                 "(apt-get install wixl msitools)")
endif()
