# Installs the public header, libpelk.so, a CMake package (find_package(pelk)
# giving pelk::pelk) and pelk.pc for pkg-config; defines the folders of the
# install (GNUInstallDirs) and pelk_install_unit for systemd units.

# Debian's multiarch library folder under every prefix (its loader,
# pkg-config and CMake search /usr/local/lib/<triplet> as well), so that a
# prefix given only when installing (cmake --install --prefix /usr) still
# puts the library there.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
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

# Where systemd looks for the system units of the prefix /usr: the folder the
# system's systemd.pc names (/lib/systemd/system on Debian 12), else
# /usr/lib/systemd/system. Other prefixes: PREFIX/lib/systemd/system.
if(NOT DEFINED PELK_USR_UNIT_DIR)
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
        pkg_get_variable(PELK_SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
    endif()
    if(NOT PELK_SYSTEMD_UNIT_DIR)
        set(PELK_SYSTEMD_UNIT_DIR /usr/lib/systemd/system)
    endif()
    set(PELK_USR_UNIT_DIR ${PELK_SYSTEMD_UNIT_DIR} CACHE PATH
        "Where units go when the prefix is /usr")
endif()

# pelk_install_unit(TEMPLATE): installs the systemd unit made from TEMPLATE
# (NAME.in) when installing, so that the prefix then given decides both its
# folder and the programs it names (@PELK_INSTALL_FULL_SBINDIR@,
# @PELK_INSTALL_FULL_BINDIR@).
function(pelk_install_unit template)
    get_filename_component(name ${template} NAME_WLE)
    get_filename_component(PELK_UNIT_TEMPLATE ${template} ABSOLUTE)
    set(PELK_UNIT_FILE ${CMAKE_CURRENT_BINARY_DIR}/${name})
    set(script ${CMAKE_CURRENT_BINARY_DIR}/install_${name}.cmake)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/install_unit.cmake.in ${script} @ONLY)
    install(SCRIPT ${script})
endfunction()
