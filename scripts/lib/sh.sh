# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The plumbing every bash script of the project shares: its messages, its
# checks and their count, its skip, its timeouts. Set prog (and usage, for
# usage_error) before sourcing.
# Sourced once: a second source (by a file the script sources) keeps the count.
[[ -z ${sh_lib_sourced:-} ]] || return 0
sh_lib_sourced=1
prog=${prog:-${0##*/}}
skip_status=77

# die, note, usage_error (exit 2), skip (on stdout, exit 77: not run): a
# line that starts with the script's name; show_help: the head comment.
die() {
    echo "$prog: $*" >&2
    exit 1
}
note() { echo "$prog: $*" >&2; }
usage_error() {
    echo "$prog: $*" >&2
    [[ -z ${usage:-} ]] || echo "usage: $usage" >&2
    exit 2
}
show_help() { sed -n '3,/^$/p' "$0" | sed 's/^# \{0,1\}//'; }
skip() {
    echo "$prog: $*"
    exit "$skip_status"
}

# check TEXT CMD [ARG...]: CMD (a command or a function) runs in a subshell
# with errexit, so any failing command in it fails the check; "die" there
# ends the check, not the script. Prints "PASS: TEXT" or "FAIL: TEXT" on
# stdout, TEXT led by "$case_name: " when case_name is set, and counts it.
# What CMD writes goes to $check_log when that is set, else where the
# script's own output goes. Bash ignores errexit in a subshell that if, &&
# or || tests, hence the bare subshell with errexit off around it.
checks_passed=0
checks_failed=0
checks_failures=()
check() {
    local text=${case_name:+$case_name: }$1 rc errexit=
    shift
    [[ $- != *e* ]] || errexit=1
    set +e
    if [[ -n ${check_log:-} ]]; then
        (
            set -e
            "$@"
        ) >>"$check_log" 2>&1
    else
        (
            set -e
            "$@"
        )
    fi
    rc=$?
    [[ -z $errexit ]] || set -e
    check_count "$rc" "$text"
}
# fail TEXT: a check found failed without a command to run; check_skip
# TEXT: one that cannot run here, "SKIP: TEXT", counted apart.
fail() { check_count 1 "${case_name:+$case_name: }$*"; }
checks_skipped=0
check_skip() {
    echo "SKIP: ${case_name:+$case_name: }$*"
    checks_skipped=$((checks_skipped + 1))
}
check_count() { # STATUS TEXT
    if (($1 == 0)); then
        echo "PASS: $2"
        checks_passed=$((checks_passed + 1))
    else
        echo "FAIL: $2"
        checks_failed=$((checks_failed + 1))
        checks_failures+=("$2")
    fi
}
# shellcheck disable=SC2120 # WHAT is optional
check_summary() { # [WHAT]
    local skipped=""
    ((checks_skipped == 0)) || skipped=", $checks_skipped skipped"
    echo "${1:-$prog}: $checks_passed passed, $checks_failed failed$skipped"
    ((checks_failed == 0)) || {
        printf 'failed: %s\n' "${checks_failures[@]}"
        return 1
    }
}

# value_opts NAME=VAR... -- ARGS...: each "--NAME VALUE" of ARGS sets the
# variable VAR (the caller's local, if it has one) to VALUE; the other
# arguments go, in order, to the array rest, all of them after a "--".
value_opts() {
    local -A var=()
    while [[ $1 != -- ]]; do
        var[${1%%=*}]=${1#*=}
        shift
    done
    shift
    rest=()
    while (($#)); do
        if [[ $1 == -- ]]; then
            rest+=("$@")
            break
        elif [[ $1 == --?* && -n ${var[${1#--}]:-} ]]; then
            (($# >= 2)) || usage_error "$1 needs a value"
            printf -v "${var[${1#--}]}" '%s' "$2"
            shift 2
        else
            rest+=("$1")
            shift
        fi
    done
}

# scratch NAME: tmp, a new directory, removed when the script exits.
scratch() {
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap 'rm -rf "$tmp"' EXIT
}

# Checks the commands above are made of.
# eq GOT WANT: says both when they differ.
eq() {
    [[ $1 == "$2" ]] || {
        echo "got '$1', want '$2'"
        return 1
    }
}
# has_line FILE TEXT: a line of FILE holds TEXT; else FILE is shown.
has_line() {
    grep -qF -- "$2" "$1" || {
        echo "no line with \"$2\" in:"
        sed 's/^/    /' "$1"
        return 1
    }
}

# PIXVANE_TIMEOUT_MULTIPLIER (default 1, may have decimals) stretches every
# timeout of the VMs and builds, for a slow or a loaded machine.
# scaled_seconds SECS: SECS times the multiplier, rounded up.
scaled_seconds() {
    awk -v s="$1" -v m="${PIXVANE_TIMEOUT_MULTIPLIER:-1}" \
        'BEGIN { if (m !~ /^[0-9]+(\.[0-9]+)?$/ || m <= 0) exit 1; t = s * m; printf "%d", t == int(t) ? t : int(t) + 1 }' ||
        die "PIXVANE_TIMEOUT_MULTIPLIER wants a number above 0, not $PIXVANE_TIMEOUT_MULTIPLIER"
}
# timed SECS CMD [ARG...]: CMD, killed after the scaled SECS (sets timed_s
# to them, for the message); status 124 when it was.
timed() {
    local rc=0
    timed_s=$(scaled_seconds "$1")
    shift
    timeout -k 5 "$timed_s" "$@" || rc=$?
    ((rc != 137)) || rc=124
    return "$rc"
}

# no_network CMD [ARG...]: a namespace of its own with only a loopback that
# is down; unprivileged, a user namespace too.
no_network() {
    local ns=(unshare -n)
    [[ $(id -u) == 0 ]] || ns=(unshare -rn)
    "${ns[@]}" "$@"
}

# sums_verify DIR FILE...: status 0 when each FILE is in DIR and matches
# its line in DIR/SHA256SUMS; 1 when SHA256SUMS, a FILE or its line is
# missing (sums_missing names it); 2 when a FILE does not match.
# shellcheck disable=SC2034 # sums_missing is the caller's
sums_verify() {
    local dir=$1 f
    shift
    sums_missing=
    for f in SHA256SUMS "$@"; do
        [[ -f $dir/$f ]] || { sums_missing=$f; return 1; }
    done
    for f in "$@"; do
        awk -v f="$f" '$2 == f || $2 == "*" f { n++ } END { exit n != 1 }' "$dir/SHA256SUMS" ||
            { sums_missing="$f's line in SHA256SUMS"; return 1; }
        (cd "$dir" && awk -v f="$f" '$2 == f || $2 == "*" f' SHA256SUMS | sha256sum --quiet -c - >/dev/null 2>&1) ||
            return 2
    done
}
