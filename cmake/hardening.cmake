# Release hardening, as a distribution builds its packages (Debian's
# dpkg-buildflags with hardening=+all): stack protector, fortified libc
# calls, stack clash and control-flow protection, read-only relocations
# bound at start, a position-independent executable. The sanitizer and
# fuzz presets turn it off and keep their own instrumentation.
option(TOLMEX_HARDEN "Build with a distribution's hardening flags" ON)
if(NOT TOLMEX_HARDEN)
  return()
endif()
add_compile_options(-fstack-protector-strong)
add_link_options(-fstack-protector-strong)
# Fortified calls need the optimizer; a Debug build goes without.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
if(WIN32)
  # The PE keeps ASLR (64-bit: with high-entropy addresses) and NX from the
  # linker's defaults; libssp is linked in with the rest.
  add_link_options(-static)
else()
  add_compile_options(-fstack-clash-protection -fcf-protection)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
endif()
