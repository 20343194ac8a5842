# tolmex.exe as Windows sees it: a graphical program with no window of its
# own (no console opens for a payment; it borrows the one it was typed in
# only to answer an option), its version resource and manifest, both of the
# product's version, the event log's message table, and everything but the
# system's DLLs linked in.
enable_language(RC)
configure_file(platform/win32/tolmex.rc.in tolmex.rc @ONLY)
configure_file(platform/win32/tolmex.manifest.in tolmex.manifest @ONLY)
target_sources(tolmex PRIVATE ${PROJECT_BINARY_DIR}/tolmex.rc)
# The message table (platform/win32/messages.mc): the header with the
# event's id, for the system log, and the resource script that tolmex.rc
# includes.
find_program(TOLMEX_WINDMC ${CMAKE_MC_COMPILER} REQUIRED)
add_custom_command(OUTPUT messages.h messages.rc MSG00409.bin
  COMMAND ${TOLMEX_WINDMC} -h . -r .
          ${PROJECT_SOURCE_DIR}/platform/win32/messages.mc
  DEPENDS ${PROJECT_SOURCE_DIR}/platform/win32/messages.mc)
add_custom_target(event_messages DEPENDS messages.h messages.rc)
add_dependencies(tolmex_core event_messages)
add_dependencies(tolmex event_messages)
target_include_directories(tolmex_core PRIVATE ${PROJECT_BINARY_DIR})
# windres reports no dependencies: a new manifest or message table rebuilds
# the resources.
set_source_files_properties(${PROJECT_BINARY_DIR}/tolmex.rc
  PROPERTIES OBJECT_DEPENDS
  "${PROJECT_BINARY_DIR}/tolmex.manifest;${PROJECT_BINARY_DIR}/messages.rc")
# The headers name the oldest Windows it runs on, Windows 7 SP1 (6.1): it
# calls GetTickCount64 and SetFileInformationByHandle, which older ones
# lack, so they refuse to start it rather than fail at the first call.
target_link_options(tolmex PRIVATE -static -mwindows
                    LINKER:--subsystem,windows:6.1
                    LINKER:--major-os-version,6 LINKER:--minor-os-version,1)
