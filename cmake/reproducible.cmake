# Reproducible builds: the same commit gives the same files, byte for byte,
# wherever and whenever it is built. Paths of the trees do not reach the
# binaries, the Windows linker writes no time stamp, and the packages take
# their times from SOURCE_DATE_EPOCH, the time of the last commit unless the
# builder sets it (TOLMEX_SOURCE_DATE_EPOCH, read by packaging.cmake).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TOLMEX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE TOLMEX_SOURCE_DATE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
