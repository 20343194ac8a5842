# Whether Wine runs a trivial program of the build's architecture on this
# machine. Some kernels refuse 32-bit programs (no IA-32 emulation): Wine's
# 32-bit loader is then installed but fails with "Exec format error", and
# every test that runs a program would fail instead of saying why. Nothing
# here fails the configuration; the answer is a verdict and a reason.
#
# Included by tests/wine/CMakeLists.txt, which calls tolmex_wine_runs()
# once at configure time in the build's Wine prefix. Run as a script
# (cmake -D WINE=... -D COMPILER=... -D WORKDIR=... -P wine_runs.cmake) it
# prints the verdict: a test hands it a Wine that fails, to show the path
# that skips.

# Sets `runs` to TRUE when `wine` ran a program that `compiler` built in
# `workdir`, else FALSE with `why` saying what failed. `prefix` is the Wine
# prefix to run in, made for `arch` (i686: a 32-bit prefix).
function(tolmex_wine_runs wine compiler arch workdir prefix runs why)
  set(${runs} FALSE PARENT_SCOPE)
  file(MAKE_DIRECTORY ${workdir})
  file(WRITE ${workdir}/wine_probe.c "int main(void) { return 0; }\n")
  execute_process(
    COMMAND ${compiler} ${workdir}/wine_probe.c -o ${workdir}/wine_probe.exe
    RESULT_VARIABLE built ERROR_VARIABLE built_err OUTPUT_QUIET)
  if(NOT built EQUAL 0)
    set(${why} "the probe did not build: ${built_err}" PARENT_SCOPE)
    return()
  endif()
  set(env WINEPREFIX=${prefix} WINEDEBUG=-all)
  if(arch STREQUAL "i686")
    list(APPEND env WINEARCH=win32)
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${env} ${wine} ${workdir}/wine_probe.exe
    RESULT_VARIABLE ran OUTPUT_VARIABLE ran_out ERROR_VARIABLE ran_err
    TIMEOUT 300)
  if(ran EQUAL 0)
    set(${runs} TRUE PARENT_SCOPE)
  else()
    string(STRIP "${ran_out}${ran_err}" said)
    set(${why} "${wine} cannot run a ${arch} program here (${ran}): ${said}"
        PARENT_SCOPE)
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tolmex_wine_runs(${WINE} ${COMPILER} ${ARCH} ${WORKDIR} ${WORKDIR}/prefix
                   runs why)
  if(runs)
    message("Wine runs ${ARCH} programs")
  else()
    message("skipped: ${why}")
  endif()
endif()
