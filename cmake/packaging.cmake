# The Windows installation zip: cpack (in the build tree) writes
# kvq-<version>-win64.zip holding the installation tree kvq finds itself in,
#   kvq\<version>\tor\bin\kvq.exe
#   kvq\<version>\tor\dat\          (message files, none shipped)
# to be unpacked under any directory.  The test programs are not part of it.
set(KVQ_INSTALL_VER kvq/${PROJECT_VERSION})
install(TARGETS kvq RUNTIME DESTINATION ${KVQ_INSTALL_VER}/tor/bin)
install(DIRECTORY DESTINATION ${KVQ_INSTALL_VER}/tor/dat)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kvq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kvq-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)  # the debug information stays in the build tree
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
