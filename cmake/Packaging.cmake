# SPDX-License-Identifier: MIT
# Install rules for everything around the pixvane executable (manual page,
# udev rule, systemd unit, boot examples) and the Debian package built from
# them with CPack:
#
#   cmake -B build/deb -DPIXVANE_STATIC=ON -DPIXVANE_STRIP=ON -DBUILD_TESTING=OFF
#   cmake --build build/deb && (cd build/deb && cpack -G DEB)
#
# Options and paths, all cache variables:
#   PIXVANE_INSTALL_UDEV_RULE     install 60-pixvane-fb.rules (ON)
#   PIXVANE_INSTALL_SYSTEMD_UNIT  install pixvane@.service and the
#                                 pixvane-group.service it requires (ON)
#   PIXVANE_UDEV_RULES_DIR        where the rule goes
#   PIXVANE_SYSTEMD_UNIT_DIR      where the unit goes
#   PIXVANE_GZIP_MANPAGE          install the manual page gzip'ed (ON)
# The two directories are chosen when installing, from the prefix the install
# uses. Left empty (the default), each is what pkg-config says for udev
# (udevdir) and systemd (systemdsystemunitdir) when pkg-config looks at the
# target (a native build, or PKG_CONFIG_SYSROOT_DIR or PKG_CONFIG_LIBDIR set
# for a cross build) and the prefix is the system's own, /usr, or holds that
# path; else lib/udev/rules.d and lib/systemd/system under the prefix. A
# directory set by hand wins; a relative one is taken under the prefix, as
# GNUInstallDirs' are.

include_guard(GLOBAL)
include(GNUInstallDirs)

set(PIXVANE_DIST_DIR ${PROJECT_SOURCE_DIR}/dist)

# Files and directories made by the install get the usual modes, whatever the
# umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

option(PIXVANE_INSTALL_UDEV_RULE "Install the udev rule that links /dev/fb/N to /dev/fbN" ON)
option(PIXVANE_INSTALL_SYSTEMD_UNIT "Install the systemd unit pixvane@.service and the pixvane-group.service it requires" ON)
option(PIXVANE_GZIP_MANPAGE "Install the manual page compressed with gzip" ON)

# pkg-config's value of variable in module, as a path on the target: a
# sysroot that pkg-config put in front (cross builds in Buildroot or Yocto)
# is taken off again, since DESTDIR plays that part at install time. Empty
# when pkg-config cannot speak for the target.
function(pixvane_pkg_config_dir module variable out)
    set(${out} "" PARENT_SCOPE)
    find_package(PkgConfig QUIET)
    if(NOT PKG_CONFIG_FOUND)
        return()
    endif()
    # A cross build asks pkg-config only when it was pointed at the target's
    # .pc files; the build machine's answer says nothing about the target.
    if(CMAKE_CROSSCOMPILING AND NOT DEFINED ENV{PKG_CONFIG_LIBDIR}
       AND NOT DEFINED ENV{PKG_CONFIG_SYSROOT_DIR})
        return()
    endif()
    execute_process(
        COMMAND ${PKG_CONFIG_EXECUTABLE} --variable=${variable} ${module}
        OUTPUT_VARIABLE dir
        OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE result
        ERROR_QUIET)
    if(NOT result EQUAL 0 OR NOT dir MATCHES "^/")
        return()
    endif()
    set(sysroot "$ENV{PKG_CONFIG_SYSROOT_DIR}")
    if(sysroot AND NOT sysroot STREQUAL "/")
        string(LENGTH "${sysroot}" sysroot_len)
        string(SUBSTRING "${dir}" 0 ${sysroot_len} head)
        if(head STREQUAL sysroot)
            string(SUBSTRING "${dir}" ${sysroot_len} -1 dir)
        endif()
    endif()
    set(${out} "${dir}" PARENT_SCOPE)
endfunction()

set(PIXVANE_UDEV_RULES_DIR "" CACHE PATH
    "Directory for the udev rule (empty: chosen at install time)")
set(PIXVANE_SYSTEMD_UNIT_DIR "" CACHE PATH
    "Directory for the systemd unit (empty: chosen at install time)")

# pixvane_install_to(SET_BY_HAND PC_MODULE PC_VARIABLE PC_SUFFIX DEFAULT FILE):
# installs FILE into the directory the top of this file describes. The
# choice is made in the install script, as "cmake --install --prefix" and
# CPack may install to another prefix than the one the build was configured
# with: a path that pkg-config gives for the system (such as
# /lib/systemd/system before the /usr merge) has no place in an install to
# /opt/pv.
function(pixvane_install_to by_hand module variable suffix default file)
    set(pc_dir "")
    if(by_hand STREQUAL "")
        pixvane_pkg_config_dir(${module} ${variable} pc_dir)
        if(pc_dir)
            set(pc_dir "${pc_dir}${suffix}")
        endif()
    endif()
    get_filename_component(name "${file}" NAME)
    install(CODE "
        set(pixvane_dir \"${by_hand}\")
        if(pixvane_dir STREQUAL \"\")
            set(pixvane_dir \"${default}\")
            if(NOT \"${pc_dir}\" STREQUAL \"\")
                cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX \"${pc_dir}\" NORMALIZE pixvane_under)
                if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr/?$\" OR pixvane_under)
                    set(pixvane_dir \"${pc_dir}\")
                endif()
            endif()
        endif()
        if(NOT IS_ABSOLUTE \"\${pixvane_dir}\")
            set(pixvane_dir \"\${CMAKE_INSTALL_PREFIX}/\${pixvane_dir}\")
        else()
            list(APPEND CMAKE_ABSOLUTE_DESTINATION_FILES \"\${pixvane_dir}/${name}\")
            if(CMAKE_ERROR_ON_ABSOLUTE_INSTALL_DESTINATION)
                message(FATAL_ERROR
                        \"absolute install destination forbidden: \${pixvane_dir}/${name}\")
            endif()
        endif()
        file(INSTALL DESTINATION \"\${pixvane_dir}\" TYPE FILE FILES \"${file}\")
    ")
endfunction()

# --- Manual page ------------------------------------------------------------

find_program(PIXVANE_GZIP gzip REQUIRED)

set(man_src ${PROJECT_SOURCE_DIR}/man/pixvane.8)
if(PIXVANE_GZIP_MANPAGE)
    set(man_out ${PROJECT_BINARY_DIR}/man/pixvane.8.gz)
    # -n leaves the name and time stamp out of the gzip header, so that the
    # same page always gives the same bytes.
    add_custom_command(
        OUTPUT ${man_out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E copy ${man_src} ${PROJECT_BINARY_DIR}/man/pixvane.8
        COMMAND ${PIXVANE_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/pixvane.8
        DEPENDS ${man_src}
        COMMENT "Compressing the manual page"
        VERBATIM)
    add_custom_target(pixvane_man ALL DEPENDS ${man_out})
else()
    set(man_out ${man_src})
endif()
install(FILES ${man_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# --- Boot integration -------------------------------------------------------

if(PIXVANE_INSTALL_UDEV_RULE)
    pixvane_install_to("${PIXVANE_UDEV_RULES_DIR}" udev udevdir /rules.d lib/udev/rules.d
                       ${PIXVANE_DIST_DIR}/60-pixvane-fb.rules)
endif()

# The unit and the examples name the installed pixvane by its full path.
# They are filled in at install time, from the prefix the install uses:
# "cmake --install --prefix" and CPack's /usr may differ from the prefix
# the build was configured with.
set(pixvane_dist_out ${PROJECT_BINARY_DIR}/dist)
function(pixvane_install_configured template out)
    install(CODE "
        if(IS_ABSOLUTE \"${CMAKE_INSTALL_SBINDIR}\")
            set(CMAKE_INSTALL_FULL_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")
        else()
            set(CMAKE_INSTALL_FULL_SBINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\")
        endif()
        if(IS_ABSOLUTE \"${CMAKE_INSTALL_LIBEXECDIR}\")
            set(CMAKE_INSTALL_FULL_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
        else()
            set(CMAKE_INSTALL_FULL_LIBEXECDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}\")
        endif()
        configure_file(\"${PIXVANE_DIST_DIR}/${template}\" \"${pixvane_dist_out}/${out}\" @ONLY)
    ")
endfunction()

if(PIXVANE_INSTALL_SYSTEMD_UNIT)
    pixvane_install_configured(pixvane@.service.in pixvane@.service)
    pixvane_install_to("${PIXVANE_SYSTEMD_UNIT_DIR}" systemd systemdsystemunitdir ""
                       lib/systemd/system ${pixvane_dist_out}/pixvane@.service)
    # The check the unit requires: that its group video exists.
    pixvane_install_configured(pixvane-group.service.in pixvane-group.service)
    pixvane_install_to("${PIXVANE_SYSTEMD_UNIT_DIR}" systemd systemdsystemunitdir ""
                       lib/systemd/system ${pixvane_dist_out}/pixvane-group.service)
    # The unit's judge of a run: pixvane exits 1 whatever happened.
    pixvane_install_configured(pixvane-unit.in pixvane-unit)
    install(PROGRAMS ${pixvane_dist_out}/pixvane-unit
            DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/pixvane)
endif()

# Examples for systems without udev or systemd; documentation, not
# configuration, so nothing on the target is changed by installing them.
pixvane_install_configured(pixvane.init.in pixvane.init)
pixvane_install_configured(inittab.in inittab)
install(FILES
            ${PIXVANE_DIST_DIR}/mdev.conf
            ${pixvane_dist_out}/inittab
            ${pixvane_dist_out}/pixvane.init
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The licence goes with every copy. A Debian package carries it in its
# copyright file instead (lintian flags a second licence file), so it is a
# component of its own that the package leaves out.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT License)

# --- Debian package ---------------------------------------------------------

# Debian's name for the architecture the compiler builds for, from its target
# triple (x86_64-linux-gnu, arm-linux-gnueabihf, ...), so that a cross build
# is labelled for its target and not for the build machine.
function(pixvane_debian_arch out)
    set(triple "")
    if(CMAKE_CXX_COMPILER_TARGET)
        set(triple "${CMAKE_CXX_COMPILER_TARGET}")
    else()
        execute_process(
            COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
            OUTPUT_VARIABLE triple
            OUTPUT_STRIP_TRAILING_WHITESPACE
            ERROR_QUIET)
    endif()
    if(triple STREQUAL "")
        set(triple "${CMAKE_SYSTEM_PROCESSOR}")
    endif()
    string(TOLOWER "${triple}" triple)

    if(triple MATCHES "^(x86_64|amd64)")
        set(arch amd64)
    elseif(triple MATCHES "^(aarch64|arm64)")
        set(arch arm64)
    elseif(triple MATCHES "^arm.*(eabihf|hf)$" OR triple MATCHES "^armv7")
        set(arch armhf)
    elseif(triple MATCHES "^arm")
        set(arch armel)
    elseif(triple MATCHES "^i[3-6]86")
        set(arch i386)
    elseif(triple MATCHES "^riscv64")
        set(arch riscv64)
    else()
        message(WARNING "No Debian architecture known for '${triple}'; "
                        "set CPACK_DEBIAN_PACKAGE_ARCHITECTURE")
        set(arch "")
    endif()
    set(${out} "${arch}" PARENT_SCOPE)
endfunction()

if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    pixvane_debian_arch(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
endif()

set(PIXVANE_DEB_MAINTAINER "Qor-EN <pixvane@qor-en.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# The Debian changelog must describe the version that is packaged.
file(STRINGS ${PIXVANE_DIST_DIR}/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^pixvane \\(${PROJECT_VERSION}\\) ")
    message(WARNING "dist/debian/changelog starts with '${changelog_head}', "
                    "not with version ${PROJECT_VERSION}")
endif()

# Files only the Debian package carries: its copyright file and the
# changelog, both in /usr/share/doc/pixvane, and the notes for lintian on
# what it reports on purpose. A plain "cmake --install" leaves
# them out (EXCLUDE_FROM_ALL); the package takes both components.
set(deb_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(
    OUTPUT ${deb_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
    COMMAND ${CMAKE_COMMAND} -E copy ${PIXVANE_DIST_DIR}/debian/changelog
            ${PROJECT_BINARY_DIR}/debian/changelog
    COMMAND ${PIXVANE_GZIP} -9nf ${PROJECT_BINARY_DIR}/debian/changelog
    DEPENDS ${PIXVANE_DIST_DIR}/debian/changelog
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
add_custom_target(pixvane_deb_changelog ALL DEPENDS ${deb_changelog})
install(FILES ${PIXVANE_DIST_DIR}/debian/copyright ${deb_changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT Debian EXCLUDE_FROM_ALL)
install(FILES ${PIXVANE_DIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME pixvane
        COMPONENT Debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME pixvane)
set(CPACK_PACKAGE_VENDOR "Qor-EN")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PIXVANE_DEB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the colour depth of the framebuffer /dev/fb/0")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)

# One package holding the default component and the Debian one.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME)
    set(CPACK_COMPONENTS_ALL ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME} Debian)
else()
    set(CPACK_COMPONENTS_ALL Unspecified Debian)
endif()

set(CPACK_DEBIAN_PACKAGE_NAME pixvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PIXVANE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack writes CPACK_PACKAGE_DESCRIPTION_SUMMARY as the synopsis line and
# this text, as it is, as the extended description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "pixvane is a one-shot tool for embedded Linux systems whose display is
driven through the kernel's framebuffer device. It opens /dev/fb/0, blanks
the visible screen, asks the driver for the colour depth (bits per pixel)
given on its command line, reads the mode back to check it, and reports
every stage on standard output.

The package also holds a udev rule that makes /dev/fb/0 a link to the
kernel's /dev/fb0, the systemd unit pixvane@.service to set a depth at
boot, and examples for busybox mdev, inittab and init.d scripts.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
if(PIXVANE_STATIC)
    # Static: the package needs no shared library from the system.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
