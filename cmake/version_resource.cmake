# didurozir_add_version_resource(TARGET VERSION SOURCE_DIR): stamps TARGET's
# VERSIONINFO (src/app/version.rc) with VERSION (major.minor.patch), from a
# version.h generated for TARGET alone. windres writes no dependency file, so
# the resource is made to depend on that header explicitly: without it a
# raised version rewrites the header and the build finds nothing to do.
function(didurozir_add_version_resource target version source_dir)
  string(REPLACE "." ";" parts "${version}")
  list(GET parts 0 DIDUROZIR_VERSION_MAJOR)
  list(GET parts 1 DIDUROZIR_VERSION_MINOR)
  list(GET parts 2 DIDUROZIR_VERSION_PATCH)
  set(DIDUROZIR_VERSION "${version}")
  set(header_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_version")
  configure_file("${source_dir}/src/app/version.h.in"
    "${header_dir}/version.h" @ONLY)
  set(resource "${source_dir}/src/app/version.rc")
  target_sources(${target} PRIVATE "${resource}")
  target_include_directories(${target} PRIVATE "${header_dir}")
  # Source properties belong to the directory: two targets there would share
  # the list, and each would only be rebuilt once more than needed.
  set_property(SOURCE "${resource}" APPEND PROPERTY OBJECT_DEPENDS
    "${header_dir}/version.h")
endfunction()
