# The package for Windows operators: kelbor-<version>-win64.zip with the
# programs, the Task Scheduler's task definition, the schema script and the
# docs (the man pages as plain text, since Windows has no man). Made by the
# target windows_zip, which tools/build-windows builds.
set(KELBOR_ZIP_NAME kelbor-${PROJECT_VERSION}-win64)
set(KELBOR_ZIP_STAGE ${CMAKE_BINARY_DIR}/${KELBOR_ZIP_NAME})
set(KELBOR_ZIP_PROGRAMS)
foreach(program kelbor kelbor-catchup kelbor-config kelbor-nightly)
  if(TARGET ${program})
    list(APPEND KELBOR_ZIP_PROGRAMS $<TARGET_FILE:${program}>)
  endif()
endforeach()
file(GLOB KELBOR_ZIP_TASKS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/windows/*)
file(GLOB KELBOR_ZIP_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1)
set(KELBOR_ZIP_DOCS ${PROJECT_SOURCE_DIR}/README.md)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/windows.md)
  list(APPEND KELBOR_ZIP_DOCS ${PROJECT_SOURCE_DIR}/docs/windows.md)
endif()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/${KELBOR_ZIP_NAME}.zip
  COMMAND ${CMAKE_COMMAND} "-DSTAGE=${KELBOR_ZIP_STAGE}" "-DPROGRAMS=${KELBOR_ZIP_PROGRAMS}"
          "-DTASKS=${KELBOR_ZIP_TASKS}" "-DDOCS=${KELBOR_ZIP_DOCS}"
          "-DMAN_PAGES=${KELBOR_ZIP_MAN_PAGES}" -DSCHEMA=${PROJECT_SOURCE_DIR}/sql/schema.sql
          -DZIP=${CMAKE_BINARY_DIR}/${KELBOR_ZIP_NAME}.zip -DSTRIP=${CMAKE_STRIP}
          -P ${PROJECT_SOURCE_DIR}/cmake/windows_zip.cmake
  DEPENDS ${KELBOR_ZIP_PROGRAMS} ${KELBOR_ZIP_TASKS} ${KELBOR_ZIP_DOCS} ${KELBOR_ZIP_MAN_PAGES}
          ${PROJECT_SOURCE_DIR}/sql/schema.sql ${PROJECT_SOURCE_DIR}/cmake/windows_zip.cmake
  VERBATIM)
add_custom_target(windows_zip DEPENDS ${CMAKE_BINARY_DIR}/${KELBOR_ZIP_NAME}.zip)
