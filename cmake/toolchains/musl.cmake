# SPDX-License-Identifier: MIT
# Shared part of the musl toolchain files. The including file sets
# PIXVANE_MUSL_ARCH (Debian's name for the architecture) after choosing the
# compiler.
#
# The compiler is Debian's GCC for glibc, which the test programs keep using
# (GoogleTest needs a C++ library, and Debian has none for musl). The tool
# alone is compiled against the musl sysroot and linked with its start files
# and libc.a: cmake/Musl.cmake applies PIXVANE_MUSL_SYSROOT to the tool's
# targets. The sysroot is Debian's musl-dev and linux-libc-dev of the
# architecture, which scripts/musl-sysroot unpacks; a configure that finds
# none makes it.
set(PIXVANE_MUSL_CACHE "$ENV{HOME}/.cache/pixvane-musl" CACHE PATH
    "Where scripts/musl-sysroot keeps the musl sysroots, one directory per architecture")
if(DEFINED ENV{PIXVANE_MUSL_CACHE})
    set(PIXVANE_MUSL_CACHE "$ENV{PIXVANE_MUSL_CACHE}" CACHE PATH "" FORCE)
endif()
set(PIXVANE_MUSL_SYSROOT "${PIXVANE_MUSL_CACHE}/${PIXVANE_MUSL_ARCH}")

if(NOT EXISTS "${PIXVANE_MUSL_SYSROOT}/.complete")
    get_filename_component(pixvane_source_dir "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
    set(pixvane_make_sysroot
        env PIXVANE_MUSL_CACHE=${PIXVANE_MUSL_CACHE} ${pixvane_source_dir}/scripts/musl-sysroot ${PIXVANE_MUSL_ARCH})
    message(STATUS "No musl sysroot in ${PIXVANE_MUSL_SYSROOT}: making it")
    execute_process(COMMAND ${pixvane_make_sysroot} RESULT_VARIABLE pixvane_status)
    if(NOT pixvane_status EQUAL 0 OR NOT EXISTS "${PIXVANE_MUSL_SYSROOT}/.complete")
        list(JOIN pixvane_make_sysroot " " pixvane_make_sysroot)
        message(FATAL_ERROR
            "No musl sysroot in ${PIXVANE_MUSL_SYSROOT}, and making it failed. Make it with\n"
            "  ${pixvane_make_sysroot}\n"
            "and configure again.")
    endif()
endif()
