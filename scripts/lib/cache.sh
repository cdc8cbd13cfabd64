# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The one scheme of the project's caches: where they live, their lock, the
# key of what a cache was made from, the manifest of what it holds, and the
# check that finds a damaged file. Sourced after sh.sh.
#
# A cache DIR holds its parts, DIR/.lock, DIR/ready and DIR/manifest. A full
# disk or a killed copy leaves a file cut short, and what reads it then fails
# without saying why; the manifest ("SHA256 SIZE MTIME PATH" lines) finds
# and names it. The ready marker, the key, goes before any part is touched
# and comes after the manifest: a build killed halfway is never taken as made.

# cache_dir NAME: where the cache NAME lives.
cache_dir() {
    local d=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/pixvane-$1
    [[ $d == /* ]] || d=$PWD/$d
    echo "$d"
}

# cache_lock DIR -x|-s: holds DIR/.lock on $cache_lock_fd, exclusive or shared.
cache_lock() {
    mkdir -p "$1"
    exec {cache_lock_fd}>"$1/.lock"
    flock "$2" "$cache_lock_fd"
}
cache_unlock() { exec {cache_lock_fd}>&-; }

# cache_open DIR: DIR is no longer complete.
cache_open() { rm -f "$1/ready" "$1/manifest"; }

# cache_seal DIR KEY PATH...: the manifest of the PATHs (in DIR), then the key.
cache_seal() {
    local dir=$1 key=$2 f
    shift 2
    (cd "$dir" && for f in "$@"; do
        printf '%s %s\n' "$(sha256sum <"$f" | cut -d' ' -f1)" "$(stat -c '%s %Y' "$f") $f"
    done) >"$dir/manifest.tmp" || die "cannot write the manifest of $dir"
    mv "$dir/manifest.tmp" "$dir/manifest"
    echo "$key" >"$dir/ready.tmp"
    mv "$dir/ready.tmp" "$dir/ready"
}

cache_ready() { [[ -f $1/ready && "$(cat "$1/ready")" == "$2" ]]; }

# cache_damage DIR quick|full: "PATH REASON" for each damaged part. A quick
# check takes a file whose size and time agree as it is, and judges one
# whose time alone differs by its checksum.
cache_damage() {
    local dir=$1 mode=$2 sum size mtime path now
    [[ -f $dir/manifest ]] || {
        echo "manifest is missing"
        return 0
    }
    while read -r sum size mtime path; do
        if [[ ! -f $dir/$path ]]; then
            echo "$path is missing"
            continue
        fi
        now=$(stat -c %s "$dir/$path")
        if ((now < size)); then
            echo "$path is truncated ($now of $size bytes)"
        elif ((now != size)); then
            echo "$path has changed size ($now, not $size bytes)"
        elif [[ $mode == full || $(stat -c %Y "$dir/$path") != "$mtime" ]] &&
            [[ $(sha256sum <"$dir/$path" | cut -d' ' -f1) != "$sum" ]]; then
            echo "$path has changed (its checksum differs)"
        fi
    done <"$dir/manifest"
}

# cache_valid DIR KEY [quick|full]: made from KEY, and nothing damaged.
cache_valid() {
    cache_ready "$1" "$2" && [[ -z "$(cache_damage "$1" "${3:-quick}")" ]]
}
