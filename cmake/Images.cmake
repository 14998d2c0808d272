# The embedded images and unit files: images/generate_images.py makes the
# stand-ins (or takes real files from images/real/) and writes an assembler
# file that includes them with .incbin, plus the table of their names.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(KEL_IMAGE_OUT ${CMAKE_CURRENT_BINARY_DIR}/images)
set(KEL_IMAGE_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/images/generate_images.py)
set(KEL_IMAGE_REAL ${CMAKE_CURRENT_SOURCE_DIR}/images/real)
file(GLOB KEL_REAL_IMAGES CONFIGURE_DEPENDS ${KEL_IMAGE_REAL}/*.bin)

add_custom_command(
  OUTPUT ${KEL_IMAGE_OUT}/embedded_blob_data.S ${KEL_IMAGE_OUT}/embedded_blobs_table.cpp
  COMMAND Python3::Interpreter ${KEL_IMAGE_SCRIPT} --out ${KEL_IMAGE_OUT} --real ${KEL_IMAGE_REAL}
  # The script rewrites only what changed; touching the outputs keeps make
  # from running it again on every build.
  COMMAND ${CMAKE_COMMAND} -E touch ${KEL_IMAGE_OUT}/embedded_blob_data.S
          ${KEL_IMAGE_OUT}/embedded_blobs_table.cpp
  DEPENDS ${KEL_IMAGE_SCRIPT} ${KEL_REAL_IMAGES}
  COMMENT "Generating embedded images"
  VERBATIM)

set_source_files_properties(${KEL_IMAGE_OUT}/embedded_blob_data.S PROPERTIES LANGUAGE ASM)
set(KEL_IMAGE_SOURCES ${KEL_IMAGE_OUT}/embedded_blob_data.S ${KEL_IMAGE_OUT}/embedded_blobs_table.cpp)
