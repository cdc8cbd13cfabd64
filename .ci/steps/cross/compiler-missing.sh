# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# A configure whose cross compiler is not installed stops at once, names the compiler
# and the scripts/bootstrap line that installs it, and keeps nothing that trips the next
# configure: after that line is run, the same build directory configures and builds.
# Sourced by .ci/steps/cross.sh, from the source directory, with $work a scratch directory
# and die.
# shellcheck disable=SC2154 # $work comes from cross.sh.

# The toolchain files a user names on the command line that reach pixvane_require_compiler,
# themselves or through a file they include. A file that another one includes is a part.
toolchains_requiring_compiler() {
    local dir=cmake/toolchains f part
    for f in "$dir"/*.cmake; do
        grep -q "^ *include(.*/$(basename "$f"))" "$dir"/*.cmake && continue
        # shellcheck disable=SC2016 # ${CMAKE_CURRENT_LIST_DIR} is CMake's, literally.
        for part in "$f" $(sed -n 's#^ *include(${CMAKE_CURRENT_LIST_DIR}/\([^)]*\)).*#\1#p' "$f"); do
            [[ $part == /* || $part == "$f" ]] || part=$dir/$part
            if grep -q '^ *pixvane_require_compiler(' "$part"; then
                echo "$f"
                break
            fi
        done
    done
}

# compiler_missing TOOLCHAIN: the three steps a new user takes, in one scratch directory.
compiler_missing() {
    local toolchain=$1 dir bin log status=0 compiler line package used
    dir=$work/missing-$(basename "$toolchain" .cmake)
    log=$dir.log
    local args=(-S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/$toolchain"
        -DBUILD_TESTING=OFF -DPIXVANE_STATIC=ON -DPIXVANE_WERROR=ON)
    # A PATH with cmake and ninja and nothing else: no compiler of any kind.
    bin=$work/bin-without-compilers
    mkdir -p "$bin"
    ln -sf "$(command -v cmake)" "$bin/cmake"
    ln -sf "$(command -v ninja)" "$bin/ninja"

    # 1. Without the compiler: the configure fails, saying which and how to install it.
    PATH=$bin cmake "${args[@]}" >"$log" 2>&1 || status=$?
    ((status != 0)) || die "$toolchain: configure passed with no compiler on PATH" \
        "(a compiler named by its absolute path is not hidden this way)"
    grep -q '^CMake Error at .*require-compiler\.cmake:[0-9]* (message):$' "$log" ||
        die "$toolchain: the configure did not stop in require-compiler.cmake: $(cat "$log")"
    compiler=$(sed -n 's/^ *The compiler \([^ ]*\) is not installed\. .*Install it with$/\1/p' \
        "$log")
    line=$(sed -n 's/^ *\(scripts\/bootstrap [^ ].*\)$/\1/p' "$log")
    [[ -n $compiler && -n $line ]] ||
        die "$toolchain: no compiler name or bootstrap line in: $(cat "$log")"
    # It stopped before the compiler was looked for: nothing about one is cached.
    ! grep -q '^CMAKE_CXX_COMPILER' "$dir/CMakeCache.txt" ||
        die "$toolchain: the failed configure cached a compiler"
    [[ -z $(find "$dir/CMakeFiles" -name 'CMakeCXXCompiler.cmake') ]] ||
        die "$toolchain: the failed configure kept a compiler detection"

    # 2. The line, as the user copies it (word splitting intended).
    # shellcheck disable=SC2086
    $line >/dev/null || die "$toolchain: '$line' failed"
    command -v "$compiler" >/dev/null || die "$toolchain: '$line' did not install $compiler"
    # The line installs the package that holds the named compiler.
    package=$(dpkg -S "$(command -v "$compiler")" 2>/dev/null | sed -n '1s/:.*//p')
    [[ -z $package || " ${line#scripts/bootstrap } " == *" $package "* ]] ||
        die "$toolchain: $compiler comes from $package, which '$line' does not name"

    # 3. With it: the same directory configures and builds, nothing deleted.
    cmake "${args[@]}" >"$log" 2>&1 ||
        die "$toolchain: configure after the install: $(cat "$log")"
    # The compiler the message named is the one the toolchain file uses.
    used=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
        "$dir"/CMakeFiles/*/CMakeCXXCompiler.cmake)
    [[ $(basename "$used") == "$compiler" ]] ||
        die "$toolchain: the message named $compiler, the build uses $used"
    cmake --build "$dir" >"$log" 2>&1 ||
        die "$toolchain: build after the install: $(cat "$log")"
    echo "cross: $toolchain: without $compiler the configure stops with '$line';" \
        "after it, it builds"
}

toolchains=$(toolchains_requiring_compiler)
echo "cross: toolchain files that require their compiler: ${toolchains//$'\n'/ }"
[[ -n $toolchains ]] || die "no toolchain file calls pixvane_require_compiler"
for toolchain in $toolchains; do
    compiler_missing "$toolchain"
done
