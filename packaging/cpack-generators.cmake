# Read by cpack once per generator.
if(CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF) # bin/launch, share/... at the top
endif()
