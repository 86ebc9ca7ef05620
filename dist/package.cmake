# The Debian package kestrel3-<component> (kestrel3-tape), built with
# CPack's DEB generator from the install rules of the whole tree:
#
#   cd build && cpack -G DEB      ->  build/kestrel3-tape_<version>_<arch>.deb
#
# (scripts/package does this after a build). The package holds what
# `cmake --install` installs: programs and libraries under the prefix, the
# console's files, the example configuration (marked as conffiles), the
# systemd unit and the sysusers.d entry. Its dependencies are computed by
# dpkg-shlibdeps from the programs and libraries; the maintainer scripts of
# dist/debian create the service user and tell systemd about the unit.
set(D2T_PACKAGE_NAME kestrel3-${D2T_COMPONENT})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${D2T_PACKAGE_NAME})
# The product version (3.0.0-1, cmake/D2tRevision.cmake): later than the
# first release's 3.0.0, so dpkg upgrades from it.
set(CPACK_PACKAGE_VERSION ${D2T_PRODUCT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillon")
set(CPACK_PACKAGE_CONTACT "Kestrel3 maintainers <kestrel3@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kestrel3 tape-library control daemon")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the host's SCSI tape libraries and drives, keeps their inventory and\n moves cartridges on request through a JSON REST API and a web console.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${CMAKE_INSTALL_PREFIX})
# Several install rules name absolute folders (/etc, the unit, sysusers.d):
# stage everything under DESTDIR with the real prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# The programs and libraries are stripped into the package and their debug
# information goes to kestrel3-<component>-dbgsym (a .ddeb of
# /usr/lib/debug/.build-id/...), which needs a build with -g
# (RelWithDebInfo, as scripts/package configures).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <name>_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_NAME ${D2T_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the ELF files' needs; the tree's own libraries are found in
# the build tree (they are part of this package).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# And what the maintainer scripts run: useradd and groupadd where
# systemd-sysusers is missing, deb-systemd-helper and deb-systemd-invoke.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, init-system-helpers (>= 1.52)")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Maintainer scripts and the conffiles list, with this build's paths.
set(D2T_PACKAGE_CONFFILES
    ${D2T_TAPE_CONF_DIR}/media_controller.conf
    ${D2T_TAPE_CONF_DIR}/web.conf
    ${D2T_TAPE_CONF_DIR}/services/10-tape-controller.conf
    ${D2T_TAPE_CONF_DIR}/services/20-web-service.conf)
list(JOIN D2T_PACKAGE_CONFFILES "\n" D2T_PACKAGE_CONFFILES_TEXT)
set(D2T_UNIT_NAME kestrel3-${D2T_COMPONENT}.service)
set(D2T_SYSUSERS_FILE ${D2T_SYSUSERS_DIR}/${D2T_SERVICE_USER}.conf)
set(debian ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(WRITE ${debian}/conffiles "${D2T_PACKAGE_CONFFILES_TEXT}\n")
foreach(script postinst prerm postrm)
  configure_file(debian/${script}.in ${debian}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${debian}/conffiles ${debian}/postinst ${debian}/prerm ${debian}/postrm)

include(CPack)

# Builds, lists, installs, runs and removes the package on this machine.
# Needs root and a full build; skips itself (77) otherwise, and when the
# install folders already hold something not from this package. Not
# registered in sanitizer builds (an instrumented package is no product).
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_test(NAME dist_package_test
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-test --build-dir ${PROJECT_BINARY_DIR})
  # The first run also builds the previous release's package (about 20
  # minutes on two busy cores, kept in previous-release/ for later runs).
  set_tests_properties(dist_package_test PROPERTIES TIMEOUT 2400 SKIP_RETURN_CODE 77 RUN_SERIAL ON)
endif()
