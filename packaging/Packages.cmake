# Debian packages made by CPack (make package): one per install component. The library
# dependencies (Qt 6, OpenSSL, the C++ run-time) come from dpkg-shlibdeps; what it cannot
# see is named here.

# Every package carries its copyright file and the changelog.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/changelog.in ${generated}/changelog @ONLY)
add_custom_command(OUTPUT ${generated}/changelog.gz
    COMMAND ${VEX_GZIP} -9nf -k ${generated}/changelog
    DEPENDS ${generated}/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${generated}/changelog.gz)

set(VEX_PACKAGES server driver simulator doc)
foreach(component ${VEX_PACKAGES})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/copyright ${generated}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vexline-${component}
            COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexline)
set(CPACK_PACKAGE_VENDOR "Vexline developers")
set(CPACK_PACKAGE_CONTACT "Vexline developers <vexline@example.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VEX_PACKAGES})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE vexline)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vexline.example.com/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vexline-server)
# The window and the message boxes need Qt's platform plugins (xcb on a display).
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "vexline-simulator, vexline-doc")
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "position server for a hand-driven coordinate measuring machine
VexServer reads the four axis encoders of a manual CMM through the ENC7480
card library, detects probe hits, estimates each hit's approach vector and
serves positions and hits as text lines over TCP to one client, normally the
Tactus driver. Includes the vexserver systemd service (settings in
/etc/vexline).")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/conffiles.in ${generated}/server/conffiles @ONLY)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${generated}/server/conffiles)

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME vexline-driver)
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_DRIVER_PACKAGE_RECOMMENDS "vexline-server")
set(CPACK_DEBIAN_DRIVER_PACKAGE_SUGGESTS "vexline-simulator, vexline-doc")
set(CPACK_COMPONENT_DRIVER_DESCRIPTION
    "Tactus machine driver with its host shell and diagnostics
The Tactus driver plug-in reads a machine file, starts and talks to VexServer
(or a controller on a serial line), parses its replies, applies volumetric
compensation and hands positions and hits to the host application. Includes
the host stand-in with the host shell qlnrun, and tactus-tool for
integrators.")

set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME vexline-simulator)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_DEPENDS
    "vexline-server (= ${PROJECT_VERSION}), vexline-driver (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_SIMULATOR_DESCRIPTION
    "simulated machine and demo for the Vexline CMM system
Stand-in device libraries that play an encoder card on a simulated machine
following a motion script, the example settings and machine files, and a demo
that runs host shell, driver, server and simulated machine together. The
stand-ins live in a folder of their own and are used only when VexServer is
told to take its library from there.")

set(CPACK_DEBIAN_DOC_PACKAGE_NAME vexline-doc)
set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOC_PACKAGE_SECTION doc)
set(CPACK_COMPONENT_DOC_DESCRIPTION
    "documentation of the Vexline CMM system
Operating VexServer and the Tactus driver, the protocol, the settings and
machine files, compensation, the host stand-in and the tools, with a
troubleshooting guide.")

include(CPack)
