# SPDX-License-Identifier: MIT
# The tool on musl: with PIXVANE_MUSL_SYSROOT (set by the musl toolchain
# files), its objects see only the sysroot's headers and the executable is
# linked with the sysroot's start files and libc.a, GCC's crtbeginT.o and
# crtend.o and libgcc.a, nothing else. The test programs keep the compiler's
# own C and C++ libraries.
#
# Sets PIXVANE_LIBC to musl or glibc, the C library pixvane is built with.
if(NOT PIXVANE_MUSL_SYSROOT)
    set(PIXVANE_LIBC glibc)
    return()
endif()
set(PIXVANE_LIBC musl)
if(NOT PIXVANE_STATIC)
    message(FATAL_ERROR "A musl build is static (PIXVANE_STATIC=ON): the sysroot has only libc.a")
endif()

function(pixvane_gcc_file var name)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${name}")
    endif()
    set(${var} "${path}" PARENT_SCOPE)
endfunction()
pixvane_gcc_file(pixvane_crtbegin crtbeginT.o)
pixvane_gcc_file(pixvane_crtend crtend.o)
pixvane_gcc_file(pixvane_libgcc libgcc.a)

set(musl_lib ${PIXVANE_MUSL_SYSROOT}/lib)
# -nostdinc drops the compiler's C++ and C include directories alike, glibc's
# among them.
target_compile_options(pixvane_tool_flags INTERFACE
    -nostdinc -isystem ${PIXVANE_MUSL_SYSROOT}/include)
target_link_options(pixvane PRIVATE
    -nostdlib -static ${musl_lib}/crt1.o ${musl_lib}/crti.o ${pixvane_crtbegin}
    # What went into the executable, for scripts/check-musl.
    -Wl,-Map=$<TARGET_FILE:pixvane>.map)
# On vo, the last of the modules on the link line, so that the C library
# follows them all and crtend.o and crtn.o come last. A group: on ARM, libgcc's
# division by zero calls raise() back in libc.a.
target_link_libraries(vo INTERFACE
    -Wl,--start-group ${musl_lib}/libc.a ${pixvane_libgcc} -Wl,--end-group
    ${pixvane_crtend} ${musl_lib}/crtn.o)
