# The installed package: find_package(Tavex) with Tavex::tavex,
# Tavex::tavex_sim and Tavex::tavex_plant, the pkg-config files tavex.pc,
# tavex_sim.pc (and tavex_plant.pc, from src/plant), and on Linux the Debian
# packages of the same, built by CPack (cpack --preset package, or cpack -G
# DEB in a build folder):
#
#   libtavex0     the shared library (component library)
#   libtavex-dev  headers, CMake package, pkg-config files, the simulated PC
#                 (libtavex_sim.a) and the plant file library
#                 (libtavex_plant.a), the libtavex.so link (component
#                 development)
#   tavex         the command-line tool, its man page, its bash completion
#                 and the demo plant file (component tool)
#
# and a -dbgsym package beside each one that holds programs or shared
# libraries: the packages hold stripped files, the debug symbols go there.
#
# Included at the end of the top-level CMakeLists.txt, so that every target
# and install rule is known.  Every install() rule names its COMPONENT; a
# rule without one lands in "Unspecified", which no package takes.
#
# Adding a package for a new part (the Python module, the gateway, ...):
#   1. give its install() rules a component of its own,
#        install(TARGETS tavex_gateway RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
#                COMPONENT gateway)
#   2. add one call below, beside the others, guarded by its target:
#        if(TARGET tavex_gateway)
#            tavex_deb_package(gateway tavex-gateway net
#                "Modbus TCP gateway to the I/O points of industrial boards in a PC"
#                "tavex-gateway serves the tracks of a plant file ... (a paragraph)"
#                DEPENDS "libtavex0 (= ${TAVEX_DEB_VERSION})")
#        endif()
#      Shared libraries among its files give their dependencies by
#      themselves (dpkg-shlibdeps); DEPENDS adds others (python3, ...).
#      ARCH_ALL marks a package without compiled code (Architecture: all).
#   3. give it a man page for each program it puts in bin/, and check the
#      packages with scripts/package-check.sh: lintian runs on every .deb
#      and must report no error.

include(CMakePackageConfigHelpers)

# The installed package's names inside this build too, so that a project
# that takes Tavex in with add_subdirectory() links as it would against
# the installed package: target_link_libraries(... Tavex::tavex_sim).
foreach(target tavex tavex_sim tavex_plant)
    if(TARGET ${target})
        add_library(Tavex::${target} ALIAS ${target})
    endif()
endforeach()

# The shared library needs no RPATH of its own (it links only system
# libraries); the programs keep theirs (cmake/TavexInstallRpath.cmake).
set_target_properties(tavex PROPERTIES INSTALL_RPATH "")

# ---- the CMake package and pkg-config --------------------------------------
set(TAVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavex)
install(EXPORT TavexTargets NAMESPACE Tavex:: DESTINATION ${TAVEX_CMAKE_DIR}
    COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TavexConfig.cmake.in
    ${CMAKE_BINARY_DIR}/TavexConfig.cmake INSTALL_DESTINATION ${TAVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TavexConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TavexConfig.cmake ${CMAKE_BINARY_DIR}/TavexConfigVersion.cmake
    DESTINATION ${TAVEX_CMAKE_DIR} COMPONENT development)
if(NOT WIN32)
    # The .pc files find the prefix from where they lie, so that an installed
    # tree can be moved (cmake --install --prefix, dpkg -x).
    file(RELATIVE_PATH TAVEX_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
        ${CMAKE_INSTALL_PREFIX})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/tavex.pc.in ${CMAKE_BINARY_DIR}/tavex.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/tavex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
    if(TAVEX_BUILD_SIM)
        configure_file(${PROJECT_SOURCE_DIR}/cmake/tavex_sim.pc.in ${CMAKE_BINARY_DIR}/tavex_sim.pc
            @ONLY)
        install(FILES ${CMAKE_BINARY_DIR}/tavex_sim.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
    endif()
endif()

# ---- the tool's man page and bash completion --------------------------------
if(TARGET tavex_tool AND NOT WIN32)
    set(TAVEX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
    # Man pages are installed compressed, without a time stamp in the gzip
    # header, so that two builds give the same package.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        ${TAVEX_PACKAGING_DIR}/tavex.1)
    execute_process(COMMAND gzip -9n -c ${TAVEX_PACKAGING_DIR}/tavex.1
        OUTPUT_FILE ${CMAKE_BINARY_DIR}/tavex.1.gz RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip failed on packaging/tavex.1: ${gzip_result}")
    endif()
    install(FILES ${CMAKE_BINARY_DIR}/tavex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT tool)
    install(FILES ${TAVEX_PACKAGING_DIR}/tavex.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tavex COMPONENT tool)
    if(TAVEX_BUILD_TESTS AND TAVEX_BUILD_SIM)
        # The completion as bash drives it, and the completion and man page
        # against the options of the built tool.
        add_test(NAME packaging_completion
            COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/completion-test.sh
                    ${TAVEX_PACKAGING_DIR}/tavex.bash-completion)
        add_test(NAME packaging_options
            COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/options-test.sh
                    $<TARGET_FILE:tavex_tool> ${TAVEX_PACKAGING_DIR}/tavex.1
                    ${TAVEX_PACKAGING_DIR}/tavex.bash-completion)
    endif()
endif()

# ---- packages -------------------------------------------------------------------
set(CPACK_PACKAGE_NAME tavex)
set(CPACK_PACKAGE_VENDOR "The Tavex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "I/O library for industrial boards in a PC, with a simulated PC")
    # No Debian packages off Linux (the Windows cross builds); cpack gives
    # an archive of the installed tree there.
    include(CPack)
    return()
endif()

set(TAVEX_DEB_MAINTAINER "The Tavex developers <tavex@example.org>" CACHE STRING
    "Maintainer field of the Debian packages (name <address>)")
set(TAVEX_DEB_RELEASE 1 CACHE STRING
    "Debian revision of the packages; the top entry of packaging/deb/changelog must match")
set(TAVEX_DEB_VERSION ${PROJECT_VERSION}-${TAVEX_DEB_RELEASE})

# The Debian changelog, compressed as the packages carry it.
set(TAVEX_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/deb)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TAVEX_DEB_DIR}/changelog)
file(STRINGS ${TAVEX_DEB_DIR}/changelog _tavex_changelog_top LIMIT_COUNT 1)
if(NOT _tavex_changelog_top MATCHES "^tavex \\(${TAVEX_DEB_VERSION}\\) ")
    message(WARNING "packaging/deb/changelog: the top entry is not version ${TAVEX_DEB_VERSION} "
                    "(the project version and TAVEX_DEB_RELEASE); lintian will say so")
endif()
execute_process(COMMAND gzip -9n -c ${TAVEX_DEB_DIR}/changelog
    OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.Debian.gz RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip failed on packaging/deb/changelog: ${gzip_result}")
endif()

set(TAVEX_DEB_COMPONENTS)
# tavex_deb_package(<component> <package> <section> <summary> <paragraph>
#                   [DEPENDS <dependencies>] [ARCH_ALL])
# One Debian package of the files of one install component, with the
# copyright file and the changelog in its /usr/share/doc/<package>.
macro(tavex_deb_package component package section summary paragraph)
    cmake_parse_arguments(_tavex_deb "ARCH_ALL" "DEPENDS" "" ${ARGN})
    string(TOUPPER ${component} _tavex_deb_upper)
    list(APPEND TAVEX_DEB_COMPONENTS ${component})
    set(CPACK_DEBIAN_${_tavex_deb_upper}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${_tavex_deb_upper}_PACKAGE_SECTION ${section})
    set(CPACK_DEBIAN_${_tavex_deb_upper}_DESCRIPTION "${summary}\n${paragraph}")
    if(_tavex_deb_DEPENDS)
        set(CPACK_DEBIAN_${_tavex_deb_upper}_PACKAGE_DEPENDS "${_tavex_deb_DEPENDS}")
    endif()
    if(_tavex_deb_ARCH_ALL)
        set(CPACK_DEBIAN_${_tavex_deb_upper}_PACKAGE_ARCHITECTURE all)
    endif()
    install(FILES ${TAVEX_DEB_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endmacro()

set(_tavex_about "Tavex lets a control program read and write the I/O points of industrial
boards fitted in a PC in one uniform way: ISA and PCI digital I/O boards,
the parallel port, an encoder counter, an analog/digital adapter, and
boards with shared memory (a Remote I/O scanner, a Genius bus interface,
a Profibus DP master).")

tavex_deb_package(library libtavex0 libs
    "I/O library for industrial boards in a PC"
    "${_tavex_about}\n.\nThis package holds the shared library.")
tavex_deb_package(development libtavex-dev libdevel
    "I/O library for industrial boards in a PC - development files"
    "${_tavex_about}\n.\nThis package holds the headers, the CMake package (find_package(Tavex))\nand the pkg-config files, the simulated PC with a model of each board\n(libtavex_sim.a), on which a control program runs and is tested without\nhardware, and the plant file library (libtavex_plant.a)."
    DEPENDS "libtavex0 (= ${TAVEX_DEB_VERSION})")
if(TARGET tavex_tool)
    tavex_deb_package(tool tavex utils
        "read, write and watch the I/O points of industrial boards in a PC"
        "${_tavex_about}\n.\nThis package holds the command-line tool tavex: it lists the PCI\nfunctions of the PC, reads, writes and watches the points of any board\nthe library serves, describes what each card accepts, and runs a demo\nof a bottling line on a simulated PC."
        DEPENDS "libtavex0 (= ${TAVEX_DEB_VERSION})")
endif()
if(TARGET tavex_gateway)
    tavex_deb_package(gateway tavex-gateway net
        "Modbus TCP gateway to the I/O points of industrial boards in a PC"
        "${_tavex_about}\n.\nThis package holds tavex-gateway: it scans the tracks of a plant file\nand serves them as a Modbus TCP server to SCADA systems and HMIs, with\nsafe output values when no client writes and when it stops, and its\nsystemd unit."
        DEPENDS "libtavex0 (= ${TAVEX_DEB_VERSION})")
endif()
if(TARGET tavex_python)
    tavex_deb_package(python python3-tavex python
        "I/O library for industrial boards in a PC - Python 3 module"
        "${_tavex_about}\n.\nThis package holds the Python 3 module tavex: every card, tracks with\nnumpy views of their values, the simulated PC with its board models, plant\nfiles and the periodic scan with a Python logic."
        DEPENDS "libtavex0 (= ${TAVEX_DEB_VERSION}), ${TAVEX_PYTHON_DEB_DEPENDS}")
endif()
# New packages go here (see the top of this file).

# Each package's description is its own (tavex_deb_package); a summary of
# the whole project would be put in front of each.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${TAVEX_DEB_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAVEX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE tavex)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies with versions, from the shared libraries each program and
# library links (dpkg-shlibdeps); the shlibs file and the ldconfig trigger
# of libtavex0, so that packages built against it depend on it in turn.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# libtavex.so.0 itself is not installed where dpkg-shlibdeps looks: it is
# found in the build tree, and the packages that link it name libtavex0
# with its exact version (DEPENDS above).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# Its ldconfig trigger (lintian wants it beside the ldconfig calls that
# CPack writes into postinst and postrm).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${TAVEX_DEB_DIR}/triggers)
# Stripped programs and shared libraries, their debug symbols in -dbgsym
# packages (CPack strips them while it splits them: CPACK_STRIP_FILES would
# strip them before and leave the -dbgsym packages empty); the static
# libraries without their debug sections.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_TAVEX_STRIP ${CMAKE_STRIP})   # for that script
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/TavexStripArchives.cmake)
include(CPack)
