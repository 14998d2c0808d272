# The program's name, version, maker and description, read from
# runtime/version.h, the constants the program itself prints, so that the
# Windows version resource, the manual page and the packages cannot say
# anything else. Sets KEL_PROGRAM_NAME, KEL_PROGRAM_MAKER,
# KEL_PROGRAM_DESCRIPTION, KEL_VERSION_MAJOR, KEL_VERSION_MINOR (two
# digits), KEL_VERSION_MINOR_NUMBER (the minor without a leading zero,
# for resource numbers where "08" would read as octal), KEL_VERSION_RELEASE, KEL_VERSION (6.10.57) and KEL_VERSION_TEXT
# (6.10r57, as the banner shows it). Runs before project(), which takes
# KEL_VERSION.
set(kel_version_header ${CMAKE_CURRENT_LIST_DIR}/../runtime/version.h)
file(READ ${kel_version_header} kel_version_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kel_version_header})

function(kel_version_constant out name pattern)
  if(NOT kel_version_text MATCHES "${name}(\\[\\])? = ${pattern};")
    message(FATAL_ERROR "runtime/version.h: no ${name} = ${pattern};")
  endif()
  set(${out} "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

kel_version_constant(KEL_PROGRAM_NAME kProgramName "\"([^\"]+)\"")
kel_version_constant(KEL_PROGRAM_MAKER kProgramMaker "\"([^\"]+)\"")
kel_version_constant(KEL_PROGRAM_DESCRIPTION kProgramDescription "\"([^\"]+)\"")
kel_version_constant(kel_version kProgramVersion "([0-9]+)")
kel_version_constant(KEL_VERSION_RELEASE kProgramRelease "([0-9]+)")

math(EXPR KEL_VERSION_MAJOR "${kel_version} / 100")
math(EXPR kel_minor "${kel_version} % 100")
set(KEL_VERSION_MINOR_NUMBER ${kel_minor})
string(LENGTH "${kel_minor}" kel_length)
if(kel_length EQUAL 1)
  set(kel_minor "0${kel_minor}")
endif()
set(KEL_VERSION_MINOR ${kel_minor})
set(kel_release_text ${KEL_VERSION_RELEASE})
string(LENGTH "${kel_release_text}" kel_length)
if(kel_length EQUAL 1)
  set(kel_release_text "0${kel_release_text}")
endif()
set(KEL_VERSION "${KEL_VERSION_MAJOR}.${KEL_VERSION_MINOR}.${KEL_VERSION_RELEASE}")
set(KEL_VERSION_TEXT "${KEL_VERSION_MAJOR}.${KEL_VERSION_MINOR}r${kel_release_text}")
