# GoogleTest: the system package natively; built from the Debian source tree
# when cross-compiling, so the same tests can run under wine.
enable_testing()
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(KEL_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(KEL_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

file(GLOB_RECURSE KEL_TEST_SOURCES CONFIGURE_DEPENDS
  app/*_test.cpp runtime/*_test.cpp link/*_test.cpp unit/*_test.cpp flash/*_test.cpp
  files/*_test.cpp update/*_test.cpp images/*_test.cpp platform/*_test.cpp sim/*_test.cpp
  tests/*.cpp)
# tests/tools/ holds helper programs the tests run, not test code.
list(FILTER KEL_TEST_SOURCES EXCLUDE REGEX "/tests/tools/")
if(WIN32)
  list(FILTER KEL_TEST_SOURCES EXCLUDE REGEX "/posix/|_posix_test\\.cpp$|/tests/e2e/")
else()
  list(FILTER KEL_TEST_SOURCES EXCLUDE REGEX "/win32/|_win32_test\\.cpp$")
endif()

add_executable(kel_tests ${KEL_TEST_SOURCES})
# The Windows tests include <windows.h>, whose macros stay out of the other
# files of a unity batch.
set(kel_win32_tests ${KEL_TEST_SOURCES})
list(FILTER kel_win32_tests INCLUDE REGEX "win32")
if(kel_win32_tests)
  set_source_files_properties(${kel_win32_tests} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endif()

# A stand-in for the external boot tool that the end-to-end tests run in its
# place (POSIX, where those tests run). A test helper: never installed.
if(NOT WIN32)
  add_executable(kel-boot-stand-in tests/tools/kel_boot_stand_in.cpp)
  target_compile_options(kel-boot-stand-in PRIVATE ${KEL_WARNINGS})
  add_dependencies(kel_tests kel-boot-stand-in)
endif()
target_compile_options(kel_tests PRIVATE ${KEL_WARNINGS})
if(KEL_PCH)
  # The test files' own precompiled header: GoogleTest and the standard
  # library, read once instead of in each of about a hundred files.
  target_precompile_headers(kel_tests PRIVATE <gtest/gtest.h> ${KEL_PCH_HEADERS} <filesystem>)
endif()
target_link_libraries(kel_tests PRIVATE kel_app ${KEL_GTEST_LIBS})
if(TARGET ponderix_sim)
  target_link_libraries(kel_tests PRIVATE ponderix_sim)
endif()
target_compile_definitions(kel_tests PRIVATE
  KEL_BINARY_PATH="$<TARGET_FILE:KelUpdater>"
  KEL_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
  $<$<TARGET_EXISTS:kel-boot-stand-in>:KEL_BOOT_STAND_IN_PATH="$<TARGET_FILE:kel-boot-stand-in>">
  $<$<TARGET_EXISTS:ponderix-sim>:KEL_SIM_PATH="$<TARGET_FILE:ponderix-sim>">)
add_dependencies(kel_tests KelUpdater)
if(TARGET ponderix-sim)
  add_dependencies(kel_tests ponderix-sim)
endif()
if(WIN32)
  target_link_options(kel_tests PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(kel_tests PRIVATE version)  # reads KelUpdater.exe's version resource
endif()

if(NOT CMAKE_CROSSCOMPILING)
  include(GoogleTest)
  gtest_discover_tests(kel_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()

# The layer order: no source includes a folder above its own. The second
# test feeds the check a tree with one upward include, beside allowed ones.
if(NOT CMAKE_CROSSCOMPILING)
  set(KEL_INCLUDE_CHECK ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_includes.py)
  add_test(NAME IncludeCheck.NoSourceIncludesUpward
           COMMAND Python3::Interpreter ${KEL_INCLUDE_CHECK} ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME IncludeCheck.ReportsAnUpwardInclude
           COMMAND Python3::Interpreter ${KEL_INCLUDE_CHECK}
                   ${CMAKE_CURRENT_SOURCE_DIR}/scripts/include_check_fixture)
  set_tests_properties(IncludeCheck.ReportsAnUpwardInclude PROPERTIES
    PASS_REGULAR_EXPRESSION "link/upward\\.h:3: #include \"unit/unit_info\\.h\""
    FAIL_REGULAR_EXPRESSION "downward|upward_test")

  # doc/troubleshooting.md explains every message that ends a run: the
  # check collects them from the sources. The second test feeds it a tree
  # whose page explains one message with a placeholder and leaves out three:
  # a literal, a constant of another folder whose name a constant of app/
  # shares with another text, and a text a function of that file makes.
  set(KEL_TROUBLESHOOTING_CHECK ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_troubleshooting.py)
  add_test(NAME TroubleshootingCheck.EveryMessageThatEndsARunIsExplained
           COMMAND Python3::Interpreter ${KEL_TROUBLESHOOTING_CHECK} ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME TroubleshootingCheck.ReportsAMessageThePageLeavesOut
           COMMAND Python3::Interpreter ${KEL_TROUBLESHOOTING_CHECK}
                   ${CMAKE_CURRENT_SOURCE_DIR}/scripts/troubleshooting_check_fixture)
  set_tests_properties(TroubleshootingCheck.ReportsAMessageThePageLeavesOut PROPERTIES
    PASS_REGULAR_EXPRESSION "app/job\\.cpp:8: not in troubleshooting\\.md: A message the page leaves out.*unit/unit_gone\\.cpp:8: not in troubleshooting\\.md: The unit has gone.*unit/unit_gone\\.cpp:9: not in troubleshooting\\.md: The unit refused:.* 3 missing, 0 not readable"
    FAIL_REGULAR_EXPRESSION "Cannot open|fixture's closing line|port has gone|cannot read")
endif()
