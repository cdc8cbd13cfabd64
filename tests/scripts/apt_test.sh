#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/lib/apt.sh and fbvm's choice of kernel against local repositories,
# with no network: one index that disagrees with its Release file (apt-get
# update exits 100, as on a registry caught mid-sync), a package no index
# offers, and a newer kernel offered without the host's kbuild tools.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
prog=apt_test
# shellcheck source=../../scripts/lib/sh.sh
. "$src/scripts/lib/sh.sh"
# shellcheck source=../../scripts/lib/cache.sh
. "$src/scripts/lib/cache.sh"
# shellcheck source=fakerepo.sh
. "$src/tests/scripts/fakerepo.sh"

t=$(mktemp -d "${TMPDIR:-/tmp}/apt_test.XXXXXX")
trap 'rm -rf "$t"' EXIT

host=$(dpkg --print-architecture)
vm=arm64 vm_flavour=arm64
if [[ $host == arm64 ]]; then vm=armhf vm_flavour=armmp; fi

# A repository with what is needed, and one whose host index is broken.
good=$t/good broken=$t/broken
fake_pkg "$good" hello 1.0 all "" deb
for v in 10 20; do
    abi=6.1.0-$v version=6.1.$v-1
    fake_pkg "$good" "linux-image-$vm_flavour" "$version" "$vm" "linux-image-$abi-$vm_flavour (= $version)"
    fake_pkg "$good" "linux-image-$abi-$vm_flavour" "$version" "$vm"
    fake_pkg "$good" "linux-headers-$abi-$vm_flavour" "$version" "$vm" "linux-headers-$abi-common (= $version)"
    fake_pkg "$good" "linux-headers-$abi-common" "$version" all
    fake_pkg "$good" linux-source-6.1 "$version" all
done
# The newer kernel's kbuild tools are not offered yet.
fake_pkg "$good" linux-kbuild-6.1 6.1.10-1 "$host"
fake_release "$good" "$host" "$vm"
fake_pkg "$broken" other 1.0 "$host"
fake_release "$broken" "$host"
fake_break "$broken" "$host"
fake_apt_config "$t/etc" "$good" "$broken"
export APT_CONFIG=$t/etc/apt.conf PIXVANE_APT_TRIES=2 PIXVANE_APT_PAUSE=0

# The broken index really does fail apt-get update here.
rc=0
mkdir -p "$t/probe/partial"
apt-get -qq -o "Dir::State::Lists=$t/probe" -o "Dir::Cache=$t/probe" \
    -o APT::Sandbox::User=root update >/dev/null 2>&1 || rc=$?
((rc == 100)) || fail "the broken repository should make apt-get update exit 100, not $rc"

apt_prog=apt_test
# shellcheck source=../../scripts/lib/apt.sh
. "$src/scripts/lib/apt.sh"

echo "case: an update that keeps failing goes on with the indexes that arrived"
mkdir -p "$t/dl"
if (cd "$t/dl" && apt_private "$t/state" "$vm" -- apt_download "hello:$host") 2>"$t/err"; then
    [[ -f $t/dl/hello_1.0_all.deb ]] || fail "hello was not downloaded"
else
    fail "apt_download hello gave up although its index arrived"
fi
check "the update that failed" has_line "$t/err" "going on with the indexes that arrived"
n=$(grep -c 'going on with' "$t/err" || true)
((n == 1)) || fail "expected one line on going on, got $n"

echo "case: a package no index offers is named with apt's error"
if (cd "$t/dl" && apt_private "$t/state" "$vm" -- apt_download "hello:$host" nosuchpackage) 2>"$t/err"; then
    fail "apt_download of a package no index offers succeeded"
fi
check "the missing package" has_line "$t/err" "cannot fetch nosuchpackage: E: Unable to locate package nosuchpackage"
grep -q 'cannot fetch hello' "$t/err" && fail "hello, which is offered, was named as missing"

echo "case: a state updated for the host alone is updated again for another architecture"
(cd "$t/dl" && apt_private "$t/state2" -- apt_download "hello:$host") 2>"$t/err" ||
    fail "apt_download hello on a host-only state failed"
if apt_private "$t/state2" "$vm" -- apt_versions "linux-image-$vm_flavour:$vm" >"$t/out" 2>"$t/err"; then
    [[ $(head -n1 "$t/out") == 6.1.20-1 ]] ||
        fail "the $vm kernel was not found on a state first updated for $host alone"
else
    fail "apt_versions failed on a state first updated for $host alone"
fi

# fbvm's own functions, on its own apt state under the cache.
here=$src/tests/kernel prog=fbvm
# shellcheck source=../kernel/fbvm.d/arch.sh
. "$here/fbvm.d/arch.sh"
# shellcheck source=../kernel/fbvm.d/packages.sh
. "$here/fbvm.d/packages.sh"
# shellcheck source=../kernel/fbvm.d/select.sh
. "$here/fbvm.d/select.sh"
export PIXVANE_FBVM_CACHE=$t/cache

echo "case: a newer kernel without its kbuild tools falls back to the older complete set"
if (arch_init "$vm" && select_kernel && printf '%s\n' "$kernel_pkg $kernel_version" "${kernel_debs[@]}") \
    >"$t/out" 2>"$t/err"; then
    want="linux-image-6.1.0-10-$vm_flavour 6.1.10-1
linux-image-6.1.0-10-$vm_flavour:$vm=6.1.10-1
linux-headers-6.1.0-10-$vm_flavour:$vm=6.1.10-1
linux-headers-6.1.0-10-common=6.1.10-1
linux-kbuild-6.1:$host=6.1.10-1
linux-source-6.1=6.1.10-1"
    [[ $(cat "$t/out") == "$want" ]] || fail "chose $(tr '\n' ' ' <"$t/out") instead of the 6.1.10-1 set"
    check "the fallback names what the newest lacks" has_line "$t/err" "6.1.20-1 lacks linux-kbuild-6.1:$host=6.1.20-1"
    check "the fallback names the kernel taken" has_line "$t/err" "using linux-image-6.1.0-10-$vm_flavour 6.1.10-1"
else
    fail "no kernel chosen although 6.1.10-1 is offered complete"
    sed 's/^/    /' "$t/err" >&2
fi

echo "case: a pinned kernel that is never complete is refused, naming what is missing"
if (arch_init "$vm" && PIXVANE_FBVM_KERNEL_PKG=linux-image-6.1.0-20-$vm_flavour select_kernel) \
    >"$t/out" 2>"$t/err"; then
    fail "an incomplete pinned kernel was chosen: $(cat "$t/out")"
fi
check "the incomplete pin" has_line "$t/err" "6.1.20-1 lacks linux-kbuild-6.1:$host=6.1.20-1"

check_summary apt_test
