# Writes OUTPUT, a header that names the commit the sources are built from
# (KEL_BUILD_COMMIT, empty when not known: no git, or sources outside a
# checkout) and whether tracked files differed from it (KEL_BUILD_MODIFIED).
# Run at every build; the header is rewritten only when that changes, so
# an unchanged commit rebuilds nothing:
#   cmake -DSOURCE=<root> -DOUTPUT=<header> [-DGIT=<git>] -P cmake/BuildCommit.cmake
foreach(var SOURCE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildCommit.cmake: ${var} not set")
  endif()
endforeach()

set(commit "")
set(modified 0)
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE} rev-parse --short=12 HEAD
                  RESULT_VARIABLE failed OUTPUT_VARIABLE found ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed AND found MATCHES "^[0-9a-f]+$")
    set(commit ${found})
    # Exit code 1: the tracked files differ from the commit.
    execute_process(COMMAND ${GIT} -C ${SOURCE} diff --quiet HEAD --
                    RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
    if(differs EQUAL 1)
      set(modified 1)
    endif()
  endif()
endif()

set(text "// Made by cmake/BuildCommit.cmake at build time.\n"
         "#define KEL_BUILD_COMMIT \"${commit}\"\n#define KEL_BUILD_MODIFIED ${modified}\n")
string(CONCAT text ${text})
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
