# The release zip (scripts/package.sh): the DLL and the reference host stripped of their
# debug information, which goes into a file beside each that the binary names
# (.gnu_debuglink), so that a customer's crash can be read against the very build they run;
# the public header, the README, docs/, and SHA256SUMS of every file.
set(PACKAGE_BIN_DIR bin)
set(PACKAGE_INCLUDE_DIR include)
set(PACKAGE_DOCS_DIR docs)
set(PACKAGE_CHECKSUMS SHA256SUMS)
set(PACKAGE_README README.md)
set(PUBLIC_HEADER include/OutlookPluginInstaller.h)

install(CODE "include([[${CMAKE_CURRENT_LIST_DIR}/package_steps.cmake]])")
install(TARGETS OutlookPluginInstaller installer-host RUNTIME DESTINATION ${PACKAGE_BIN_DIR})
foreach(binary OutlookPluginInstaller installer-host)
  install(CODE "split_debug_information([[${CMAKE_OBJCOPY}]]
    \"\${CMAKE_INSTALL_PREFIX}/${PACKAGE_BIN_DIR}/$<TARGET_FILE_NAME:${binary}>\")")
endforeach()
install(FILES ${PUBLIC_HEADER} DESTINATION ${PACKAGE_INCLUDE_DIR})
install(FILES ${PACKAGE_README} DESTINATION .)
install(DIRECTORY ${PACKAGE_DOCS_DIR} DESTINATION .)
install(CODE "write_checksums(\"\${CMAKE_INSTALL_PREFIX}\" ${PACKAGE_CHECKSUMS})")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
include(CPack)
