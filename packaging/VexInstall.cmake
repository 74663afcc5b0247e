# The installed layout and one helper per kind of installed file. packaging/CMakeLists.txt
# says what goes where; a new program adds one line there (see docs/install.md).
#
# Layout below the prefix (/usr for the Debian packages):
#   bin/                         the programs
#   lib/<multiarch>/vexline/     the product's own shared libraries (libTactus.so and the
#                                host and settings stand-ins), found through RUNPATH only
#   lib/<multiarch>/vexline/simulator/
#                                the stand-in device libraries, loaded only when the user
#                                names this folder (VEX_DEVICE_LIBRARY_DIR, DeviceLibraryFolder)
#   share/vexline/               examples and the demo
#   share/man/, share/doc/<package>/
# /etc/vexline/ holds the service's settings, and the systemd unit goes to the system's
# unit folder.
#
# Every installed file belongs to a component, and each component is one Debian package
# (packaging/Packages.cmake): server, driver, simulator, doc.
include(GNUInstallDirs)

set(VEX_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/vexline)
set(VEX_STANDIN_LIBDIR ${VEX_PRIVATE_LIBDIR}/simulator)
set(VEX_DATADIR ${CMAKE_INSTALL_DATADIR}/vexline)
file(RELATIVE_PATH VEX_PRIVATE_LIBDIR_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${VEX_PRIVATE_LIBDIR})
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(VEX_DEFAULT_UNIT_DIR /lib/systemd/system)
else()
    set(VEX_DEFAULT_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(VEX_SYSTEMD_UNIT_DIR ${VEX_DEFAULT_UNIT_DIR} CACHE PATH "Folder for the systemd unit")

# Programs find the product's parts relative to their own folder (common/InstallLayout.h).
configure_file(${PROJECT_SOURCE_DIR}/common/InstallLayout.h.in
               ${CMAKE_BINARY_DIR}/generated/common/InstallLayout.h @ONLY)

find_program(VEX_HELP2MAN help2man)
find_program(VEX_PANDOC pandoc)
find_program(VEX_GZIP gzip)

# vex_install_program(TARGET COMPONENT c [PRIVATE_LIBRARIES] [MANPAGE "one-line summary"])
# A program in bin/. PRIVATE_LIBRARIES: it links libraries of the private folder, so its
# RUNPATH points there (a program without it has no RUNPATH at all, which VexServer's device
# library search relies on). MANPAGE: its man page in section 1, made by help2man from its
# --help and --version.
function(vex_install_program target)
    cmake_parse_arguments(P "PRIVATE_LIBRARIES" "COMPONENT;MANPAGE" "" ${ARGN})
    if(NOT TARGET ${target})
        return()
    endif()
    if(P_PRIVATE_LIBRARIES)
        set_target_properties(${target} PROPERTIES
            INSTALL_RPATH "\$ORIGIN/${VEX_PRIVATE_LIBDIR_FROM_BIN}")
    else()
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "")
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
    if(P_MANPAGE)
        vex_help2man(${target} "${P_MANPAGE}" ${P_COMPONENT})
    endif()
endfunction()

# vex_install_private_library(TARGET COMPONENT c): a shared library of the private folder;
# its RUNPATH is its own folder, where its siblings are.
function(vex_install_private_library target)
    cmake_parse_arguments(P "" "COMPONENT" "" ${ARGN})
    if(NOT TARGET ${target})
        return()
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN")
    install(TARGETS ${target} LIBRARY DESTINATION ${VEX_PRIVATE_LIBDIR} COMPONENT ${P_COMPONENT})
endfunction()

# vex_install_device_standin(TARGET COMPONENT c): a stand-in device library, in its own
# folder, never beside VexServer nor on the system's library path.
function(vex_install_device_standin target)
    cmake_parse_arguments(P "" "COMPONENT" "" ${ARGN})
    if(NOT TARGET ${target})
        return()
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${target} LIBRARY DESTINATION ${VEX_STANDIN_LIBDIR} COMPONENT ${P_COMPONENT})
endfunction()

# Compresses `page` (a man page made at build time) and installs it in its section.
function(vex_install_manpage page section component)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${VEX_GZIP} -9nf -k ${page}
        DEPENDS ${page} VERBATIM)
    get_filename_component(name ${page} NAME)
    add_custom_target(man_${name} ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
endfunction()

# The section 1 page of a program from its --help, made by help2man at build time. Not in
# sanitizer builds, whose programs may report at exit and are never packaged.
function(vex_help2man target summary component)
    if(VEX_SANITIZE)
        return()
    endif()
    if(NOT VEX_HELP2MAN OR NOT VEX_GZIP)
        message(STATUS "help2man not found: no man page for ${target}")
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${VEX_HELP2MAN} --no-info --no-discard-stderr
                --version-string=${PROJECT_VERSION} --name=${summary}
                --output=${page} $<TARGET_FILE:${target}>
        DEPENDS ${target} VERBATIM)
    vex_install_manpage(${page} 1 ${component})
endfunction()

# vex_pandoc_manpage(NAME n SECTION s COMPONENT c SOURCES md...): a man page made by pandoc
# from markdown pages joined in order; the first holds its title block and NAME section.
# Tables become definition lists (packaging/man/tables-as-lists.lua).
function(vex_pandoc_manpage)
    cmake_parse_arguments(P "" "NAME;SECTION;COMPONENT" "SOURCES" ${ARGN})
    if(NOT VEX_PANDOC OR NOT VEX_GZIP)
        message(STATUS "pandoc not found: no man page ${P_NAME}(${P_SECTION})")
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${P_NAME}.${P_SECTION})
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${VEX_PANDOC} --standalone --from=markdown --to=man
                --lua-filter=${PROJECT_SOURCE_DIR}/packaging/man/tables-as-lists.lua
                --output=${page} ${P_SOURCES}
        DEPENDS ${P_SOURCES} ${PROJECT_SOURCE_DIR}/packaging/man/tables-as-lists.lua VERBATIM)
    vex_install_manpage(${page} ${P_SECTION} ${P_COMPONENT})
endfunction()
