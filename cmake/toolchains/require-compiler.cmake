# SPDX-License-Identifier: MIT
# Stops a configure whose compiler is not installed, before CMake caches a
# failed detection that a later configure, with the compiler there, would
# trip over.

# pixvane_require_compiler(COMPILER PACKAGE...): COMPILER is looked up on
# PATH; PACKAGE... are the Debian packages that scripts/bootstrap installs
# for it.
function(pixvane_require_compiler compiler)
    # Not find_program: its result would be cached, and stay NOTFOUND after
    # the install.
    if(IS_ABSOLUTE "${compiler}")
        set(found "${compiler}")
    else()
        set(found "")
        string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
        foreach(dir IN LISTS path_dirs)
            if(EXISTS "${dir}/${compiler}" AND NOT IS_DIRECTORY "${dir}/${compiler}")
                set(found "${dir}/${compiler}")
                break()
            endif()
        endforeach()
    endif()
    if(NOT found OR NOT EXISTS "${found}")
        list(JOIN ARGN " " packages)
        message(FATAL_ERROR
            "The compiler ${compiler} is not installed. Install it with\n"
            "  scripts/bootstrap ${packages}\n"
            "and configure again; nothing of this attempt was kept.")
    endif()
endfunction()
