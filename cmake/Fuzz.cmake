# libFuzzer targets (fuzz/*_fuzz.cpp, one program each: fuzz_<name>), for a
# separate clang build configured with -DKEL_FUZZ=ON. Every library is
# instrumented for coverage and built with AddressSanitizer and
# UndefinedBehaviorSanitizer; with KEL_FUZZ_SKIP_CRC (on by default here)
# received frames count as having a good CRC, so mutations reach the
# reply decoders.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KEL_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()
file(GLOB KEL_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(src ${KEL_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${name})
  add_executable(fuzz_${name} ${src})
  target_compile_options(fuzz_${name} PRIVATE ${KEL_WARNINGS})
  target_link_libraries(fuzz_${name} PRIVATE kel_flash kel_files)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endforeach()
