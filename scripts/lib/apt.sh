# SPDX-License-Identifier: MIT
# Debian packages for the project's scripts: the one way they update apt's
# indexes, download packages and install them. Sourced by bash scripts; set
# apt_prog to the caller's name first. Every message goes to stderr.
#
#   apt_use_private DIR ARCH...  later calls keep lists and downloads in DIR,
#                                for the host's architecture and ARCHs, with
#                                the machine's sources; the machine's own apt
#                                state and dpkg architectures are left alone
#   apt_private DIR ARCH... -- CMD [ARG...]
#                                runs CMD (one of these calls, or a function
#                                of the caller's that makes them) on the
#                                private state DIR, leaving the process's own
#                                state as it is: a script can install on the
#                                host and fetch through DIR, in any order
#   apt_update                   apt-get update, retried; when it keeps
#                                failing but indexes are there, one line says
#                                so and the work goes on with what arrived
#   apt_download PKG...          the .debs of PKG (name[:arch][=version]) into
#                                the current directory
#   apt_install PKG...           installs on this machine what is not there
#   apt_versions PKG             every version apt offers, newest first
#   apt_cache ARG...             apt-cache ARG... on the same indexes
#
# A registry caught mid-sync fails an update for hours: one index arrives
# with a size its Release file does not give. That is no reason to stop as
# long as what is needed resolves, so only a package that cannot be had
# fails, with its name and apt's own words.
#
# PIXVANE_APT_TRIES (default 3) and PIXVANE_APT_PAUSE (seconds, default 10)
# bound how long an update keeps trying; no try starts once
# PIXVANE_APT_BUDGET seconds (default 90) would have passed, and each try is
# cut off after 60 s, so a registry that keeps failing costs two minutes at
# most.

apt_prog=${apt_prog:-apt}
apt_opts=(-o Acquire::Retries=1 -o Acquire::http::Timeout=20 -o Acquire::https::Timeout=20
    -o DPkg::Lock::Timeout=600)
apt_updated=0
# The private state in use (empty: the machine's), and which private states
# this run has updated.
apt_private_dir=
apt_private_archs=
declare -gA apt_private_updated=()

apt_note() { echo "$apt_prog: $*" >&2; }

apt_use_private() { # DIR ARCH...
    local dir=$1 host archs
    shift
    host=$(dpkg --print-architecture)
    archs=$host
    local a
    for a in "$@"; do
        [[ $a == "$host" || ,$archs, == *,$a,* ]] || archs+=",$a"
    done
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    apt_opts+=(-o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache"
        -o "APT::Architectures=$archs" -o APT::Sandbox::User=root)
    apt_updated=0
    apt_private_dir=$dir
    apt_private_archs=$archs
}

apt_private() { # DIR ARCH... -- CMD [ARG...]
    local dir=$1 rc=0
    local -a archs=()
    shift
    while (($#)) && [[ $1 != -- ]]; do
        archs+=("$1")
        shift
    done
    shift
    # Locals shadow the globals for every call CMD makes (bash scopes
    # dynamically), so the caller's own state comes back untouched.
    local -a apt_opts=("${apt_opts[@]}")
    local apt_updated apt_private_dir apt_private_archs
    apt_use_private "$dir" "${archs[@]}"
    apt_updated=${apt_private_updated[$dir]:-0}
    "$@" || rc=$?
    apt_private_updated[$dir]=$apt_updated
    return "$rc"
}

# The directory of the indexes the calls use.
apt_lists_dir() {
    local lists
    eval "$(apt-config "${apt_opts[@]}" shell lists Dir::State::lists/d)"
    echo "${lists%/}"
}

# Lists for each architecture of a private state: one first updated for
# fewer architectures (another script's, on the same DIR) has none for the
# others, and its lists would otherwise pass for complete.
apt_have_lists() {
    local lists a
    lists=$(apt_lists_dir)
    compgen -G "$lists/*_Packages*" >/dev/null || return 1
    for a in ${apt_private_archs//,/ }; do
        compgen -G "$lists/*_binary-${a}_Packages*" >/dev/null || return 1
    done
}

# apt's error lines from the output in $1, on one line.
apt_errors() {
    grep -E '^(E|W): ' <<<"$1" | grep -v 'is configured multiple times' |
        head -n 3 | tr '\n' ' ' | sed 's/ *$//'
}

# A private state's DIR/updated tells when its lists were last brought up;
# the lists' own times are the registry's.
apt_stamp() {
    [[ -z $apt_private_dir ]] || touch "$apt_private_dir/updated"
}

apt_update() {
    local tries=${PIXVANE_APT_TRIES:-3} pause=${PIXVANE_APT_PAUSE:-10} n out="" start=$SECONDS
    local budget=${PIXVANE_APT_BUDGET:-90} sudo=
    # A private state belongs to the caller; the machine's needs root.
    [[ $(id -u) == 0 || -n $apt_private_dir ]] || sudo=sudo
    for ((n = 1; n <= tries; n++)); do
        # A registry that hangs costs at most a minute a try.
        if out=$($sudo timeout -k 5 60 apt-get -qq "${apt_opts[@]}" update 2>&1); then
            apt_updated=1
            apt_stamp
            return 0
        fi
        ((n < tries && SECONDS - start + pause < budget)) || break
        apt_note "apt-get update failed (try $n of $tries), again in $pause s: $(apt_errors "$out")"
        sleep "$pause"
    done
    apt_updated=1
    if apt_have_lists; then
        apt_stamp
        apt_note "apt-get update incomplete after $n tries; going on with the indexes that arrived: $(apt_errors "$out")"
        return 0
    fi
    apt_note "apt-get update failed and no index is there to go on with: $(apt_errors "$out")"
    return 1
}

# Updates once per run where no index is there yet.
apt_ready() {
    ((apt_updated)) || apt_have_lists || apt_update
}

# Names each package of $@ that apt cannot download, with apt's error.
apt_explain() {
    local p out
    for p in "$@"; do
        out=$(apt-get -qq --print-uris "${apt_opts[@]}" download "$p" 2>&1 >/dev/null) ||
            apt_note "cannot fetch $p: $(apt_errors "$out")"
    done
}

apt_download() {
    local out
    apt_ready || return 1
    out=$(apt-get download -qq "${apt_opts[@]}" "$@" 2>&1) && return 0
    # The indexes may be older than the registry: bring them up once.
    if ((apt_updated == 0)); then
        apt_update || return 1
        out=$(apt-get download -qq "${apt_opts[@]}" "$@" 2>&1) && return 0
    fi
    apt_note "apt-get download failed: $(apt_errors "$out")"
    apt_explain "$@"
    return 1
}

apt_install() {
    local missing=() p out sudo=
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    [[ $(id -u) == 0 ]] || sudo=sudo
    apt_note "installing ${missing[*]}"
    apt_ready || return 1
    if ! out=$(DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
        --no-install-recommends "${apt_opts[@]}" "${missing[@]}" 2>&1); then
        if ((apt_updated == 0)) && apt_update &&
            out=$(DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
                --no-install-recommends "${apt_opts[@]}" "${missing[@]}" 2>&1); then
            return 0
        fi
        apt_note "cannot install ${missing[*]}: $(apt_errors "$out")"
        return 1
    fi
}

apt_versions() { # PKG
    apt_ready || return 1
    apt-cache "${apt_opts[@]}" madison "$1" 2>/dev/null | awk -F' *\\| *' '{ print $2 }'
}

apt_cache() { # ARG...: apt-cache on the indexes in use
    apt_ready || return 1
    apt-cache "${apt_opts[@]}" "$@"
}
