# Makes the manual page KelUpdater.1 from doc/KelUpdater.1.in, taking each
# option's text from the usage text in app/usage.cpp, so the page and the
# program's own usage text say the same:
#   cmake -DUSAGE=app/usage.cpp -DTEMPLATE=doc/KelUpdater.1.in
#         -DOUTPUT=KelUpdater.1 -DVERSION_TEXT=6.10r57 -P cmake/ManPage.cmake
# A line "@OPTION term@" of the template becomes the usage text's entry for
# that term; a usage entry missing from the template, or a template entry
# missing from the usage text, fails the build.
foreach(var USAGE TEMPLATE OUTPUT VERSION_TEXT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake: ${var} not set")
  endif()
endforeach()

# Text for roff: backslashes and hyphens escaped, no control character at
# a line's start.
function(kel_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The option list: the strings of kUsageLines, one console line each.
# "term   text" starts an entry, an indented line continues it, a line
# without a term is a note of its own (keyed by its first word).
file(STRINGS ${USAGE} lines REGEX "^    \".*\",$")
set(terms "")
set(term "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^    \"(.*)\",$" "\\1" line "${line}")
  if(line STREQUAL "")
    set(term "")
  elseif(line MATCHES "^ +(.*)$" AND NOT term STREQUAL "")
    string(APPEND text_${key} " ${CMAKE_MATCH_1}")
  elseif(line MATCHES "^([^ ]+)  +(.*)$")
    set(term "${CMAKE_MATCH_1}")
    string(MAKE_C_IDENTIFIER "${term}" key)
    set(text_${key} "${CMAKE_MATCH_2}")
    set(plain_${key} FALSE)
    list(APPEND terms "${term}")
  elseif(line MATCHES "^([^ ]+) ")
    set(term "${CMAKE_MATCH_1}")
    string(MAKE_C_IDENTIFIER "${term}" key)
    set(text_${key} "${line}")
    set(plain_${key} TRUE)
    list(APPEND terms "${term}")
  else()
    message(FATAL_ERROR "ManPage.cmake: usage line not understood: ${line}")
  endif()
endforeach()
if(NOT terms)
  message(FATAL_ERROR "ManPage.cmake: no usage text in ${USAGE}")
endif()

file(READ ${TEMPLATE} page)
foreach(term IN LISTS terms)
  string(MAKE_C_IDENTIFIER "${term}" key)
  set(text "${text_${key}}")
  if(NOT text MATCHES "\\.$")
    string(APPEND text ".")
  endif()
  kel_roff(text "${text}")
  if(plain_${key})
    set(entry "${text}")
  else()
    kel_roff(shown "${term}")
    set(entry ".TP\n.B ${shown}\n${text}")
  endif()
  string(FIND "${page}" "@OPTION ${term}@\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "ManPage.cmake: ${TEMPLATE} has no line @OPTION ${term}@")
  endif()
  string(REPLACE "@OPTION ${term}@\n" "${entry}\n" page "${page}")
endforeach()
if(page MATCHES "@OPTION ([^@]*)@")
  message(FATAL_ERROR "ManPage.cmake: the usage text has no entry ${CMAKE_MATCH_1}")
endif()
string(CONFIGURE "${page}" page @ONLY)
file(WRITE ${OUTPUT}.new "${page}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
