# Read by cpack for each generator: the Debian package holds the installed
# layout and Debian's documents, the archive one folder that runs where it
# is unpacked.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL vramcheck debian)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL archive)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_VRAMCHECK_ARCHIVE_NAME}")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
