# SPDX-License-Identifier: MIT
# The tool on musl: with PIXVANE_MUSL_SYSROOT (set by the musl toolchain
# files), its objects (pixvane_tool_flags) see only the sysroot's headers and
# its static programs (pixvane_libc) are linked with the sysroot's start files
# and libc.a, GCC's crtbeginT.o and crtend.o and libgcc.a, nothing else. The
# test programs keep the compiler's own C and C++ libraries.
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
# The C library of the static programs: start files first, then (through the
# link libraries, after every module) libc.a and libgcc.a as a group (on ARM,
# libgcc's division by zero calls raise() back in libc.a), crtend.o and
# crtn.o last.
target_link_options(pixvane_libc INTERFACE
    -nostdlib ${musl_lib}/crt1.o ${musl_lib}/crti.o ${pixvane_crtbegin}
    # What went into the program, for scripts/check-musl.
    -Wl,-Map=$<TARGET_PROPERTY:NAME>.map)
target_link_libraries(pixvane_libc INTERFACE
    -Wl,--start-group ${musl_lib}/libc.a ${pixvane_libgcc} -Wl,--end-group
    ${pixvane_crtend} ${musl_lib}/crtn.o)
