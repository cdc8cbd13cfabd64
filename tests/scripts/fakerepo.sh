# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Local apt repositories for the script tests: a file: source in a directory,
# whose indexes can be made to disagree with their Release file as a
# registry's do while it syncs. Sourced by the tests.

# Writes a Packages stanza for package $2 version $3 architecture $4 (with
# the Depends line $5, if any) into repository $1's pool list for that
# architecture; a real .deb is built when $6 is "deb", so that it can be
# downloaded.
fake_pkg() { # REPO NAME VERSION ARCH [DEPENDS] [deb]
    local repo=$1 name=$2 version=$3 arch=$4 depends=${5:-} real=${6:-}
    local file=pool/${name}_${version}_$arch.deb size=0 sum
    mkdir -p "$repo/pool" "$repo/stanzas"
    if [[ $real == deb ]]; then
        local d=$repo/build/$name
        mkdir -p "$d/DEBIAN" "$d/usr/share/$name"
        echo "$name $version" >"$d/usr/share/$name/version"
        printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: t <t@example.org>\nDescription: test package\n' \
            "$name" "$version" "$arch" >"$d/DEBIAN/control"
        dpkg-deb -b -Zgzip "$d" "$repo/$file" >/dev/null
        size=$(stat -c %s "$repo/$file")
        sum=$(sha256sum "$repo/$file" | cut -d' ' -f1)
    else
        sum=$(printf '%s' "$file" | sha256sum | cut -d' ' -f1)
    fi
    {
        echo "Package: $name"
        echo "Version: $version"
        echo "Architecture: $arch"
        [[ -z $depends ]] || echo "Depends: $depends"
        echo "Filename: $file"
        echo "Size: $size"
        echo "SHA256: $sum"
        echo "Description: test package"
        echo
    } >>"$repo/stanzas/$arch"
}

# Writes the indexes of repository $1 (suite "test", component "main") for
# the architectures $2..., "all" packages in each, and its Release file.
fake_release() { # REPO ARCH...
    local repo=$1 a dir
    shift
    local rel=$repo/dists/test
    mkdir -p "$rel"
    for a in "$@"; do
        dir=$rel/main/binary-$a
        mkdir -p "$dir"
        cat "$repo/stanzas/$a" "$repo/stanzas/all" 2>/dev/null >"$dir/Packages" || true
    done
    {
        echo "Suite: test"
        echo "Codename: test"
        echo "Architectures: $*"
        echo "Components: main"
        echo "Date: $(LC_ALL=C date -u -R)"
        echo "SHA256:"
        (cd "$rel" && for f in main/binary-*/Packages; do
            echo " $(sha256sum "$f" | cut -d' ' -f1) $(stat -c %s "$f") $f"
        done)
    } >"$rel/Release"
}

# Makes the Packages index of architecture $2 in repository $1 disagree with
# its Release file, as an index caught mid-sync does.
fake_break() { # REPO ARCH
    echo "Package: truncated" >>"$1/dists/test/main/binary-$2/Packages"
}

# An apt configuration in $1/apt.conf whose sources are the local
# repositories $2... only, with no installed packages: nothing reaches out.
fake_apt_config() { # DIR REPO...
    local dir=$1 r
    shift
    mkdir -p "$dir/sources.list.d"
    : >"$dir/status"
    for r in "$@"; do
        echo "deb [trusted=yes] file:$r test main" >"$dir/sources.list.d/${r##*/}.list"
    done
    cat >"$dir/apt.conf" <<CONF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$dir/sources.list.d";
Dir::State::status "$dir/status";
Acquire::Languages "none";
CONF
}
