# The one version number of the release is the project's VERSION. From it
# come the about box's "Version x.y", the version resource of every .exe and
# the installer's name and version.

set(KANTIQ_PRODUCT_NAME "Brevalo Kantiq")
set(KANTIQ_MAKER "Brevalo")
set(KANTIQ_COPYRIGHT "© 2026 Brevalo")

# Four numbers, as the version resource and the installer want them.
set(KANTIQ_VERSION_PARTS)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND KANTIQ_VERSION_PARTS 0)
  else()
    list(APPEND KANTIQ_VERSION_PARTS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN KANTIQ_VERSION_PARTS "," KANTIQ_VERSION_COMMAS)
list(JOIN KANTIQ_VERSION_PARTS "." KANTIQ_VERSION_QUAD)

set(KANTIQ_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/resources/kantiq_version.h.in
               ${KANTIQ_GENERATED_DIR}/kantiq_version.h @ONLY)

# kantiq_version_resource(TARGET FILE_NAME DESCRIPTION): gives the Windows
# program TARGET (built as FILE_NAME) a version resource with the German
# DESCRIPTION.
function(kantiq_version_resource target file_name description)
  if(NOT WIN32)
    return()
  endif()
  set(KANTIQ_FILE_NAME ${file_name})
  set(KANTIQ_FILE_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
