# Installs the public header, libpelk.so, a CMake package (find_package(pelk)
# giving pelk::pelk) and pelk.pc for pkg-config.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS pelk EXPORT pelkTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/pelklib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(PELK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/pelk)
install(EXPORT pelkTargets NAMESPACE pelk:: DESTINATION ${PELK_CMAKE_DIR})
configure_package_config_file(cmake/pelkConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/pelkConfig.cmake INSTALL_DESTINATION ${PELK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pelkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pelkConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/pelkConfigVersion.cmake
        DESTINATION ${PELK_CMAKE_DIR})

# The .pc file finds the prefix relative to its own folder, so the installed
# tree can be moved.
file(RELATIVE_PATH PELK_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/pelk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pelk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pelk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
