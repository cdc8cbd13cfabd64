# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The staged unit wrapper and init script judge a run by the tool's lines.
# Sourced by .ci/steps/package.sh, which defines check, die, SRC, STAGE and TMP.

# A stand-in for pixvane that prints what it was given, then the lines in
# FAKE_LINES, and exits 1 as pixvane always does.
judge_fake() {
    local d=$TMP/judge
    mkdir -p "$d"
    # shellcheck disable=SC2016
    printf '#!/bin/sh\necho "arg=$1"\nprintf "%%s" "$FAKE_LINES"\nexit 1\n' >"$d/pixvane"
    chmod +x "$d/pixvane"
    sed "s|/usr/sbin/pixvane|$d/pixvane|" "$STAGE/usr/libexec/pixvane/pixvane-unit" >"$d/unit"
    # The init script's /dev is a folder here whose fb0 is a character
    # device, as the kernel's node is.
    rm -rf "${d:?}/dev" && mkdir -p "$d/dev" && ln -s /dev/null "$d/dev/fb0"
    sed -e "s|/usr/sbin/pixvane|$d/pixvane|" -e "s|/etc/default/pixvane|$d/default|g" \
        -e "s|/dev/fb|$d/dev/fb|g" \
        "$STAGE/usr/share/doc/pixvane/examples/pixvane.init" >"$d/init"
}

# The wrapper passes every line on and exits 0 only on the success line; a
# line that merely contains it, or a run without it, fails the unit.
judge_wrapper() {
    judge_fake
    local d=$TMP/judge out rc
    out=$(FAKE_LINES=$'QUIL_VO: set new bpp 16 (24) on FB\nQUIL_VO: seted bpp on FB\n' sh "$d/unit" 16) ||
        die "wrapper failed a run that set the depth: $out"
    [[ $out == $'arg=16\nQUIL_VO: set new bpp 16 (24) on FB\nQUIL_VO: seted bpp on FB' ]] ||
        die "wrapper changed the tool's lines: $out"
    rc=0
    FAKE_LINES=$'QUIL_VO: Can\'t set VSCREENINFO\n' sh "$d/unit" 32 >/dev/null || rc=$?
    ((rc == 1)) || die "wrapper passed a run without the success line (status $rc)"
    rc=0
    FAKE_LINES=$'xQUIL_VO: seted bpp on FB\n' sh "$d/unit" 16 >/dev/null || rc=$?
    ((rc == 1)) || die "wrapper passed a line that only contains the success text"
}
check "unit wrapper fails a run that did not set the depth" judge_wrapper

# Without PIXVANE_BPP the script does nothing; a value the tool would
# replace by 24 fails in one line, and pixvane is not run for it.
judge_init() {
    judge_fake
    local d=$TMP/judge v out rc
    : >"$d/default"
    out=$(FAKE_LINES=$'QUIL_VO: seted bpp on FB\n' sh "$d/init" start) || die "start without a depth failed: $out"
    [[ -z $out ]] || die "start without a depth said: $out"
    for v in 0x10 64 7 016 99999999999999999999; do
        printf "PIXVANE_BPP='%s'\n" "$v" >"$d/default"
        rc=0
        out=$(FAKE_LINES=$'QUIL_VO: seted bpp on FB\n' sh "$d/init" start) || rc=$?
        if ((rc != 1)) || [[ $out != "Setting framebuffer: FAIL, PIXVANE_BPP='$v' is not a depth from 8 to 32" ]]; then
            die "PIXVANE_BPP='$v' not refused (status $rc): $out"
        fi
    done
    for v in 8 16 32; do
        printf "PIXVANE_BPP='%s'\n" "$v" >"$d/default"
        out=$(FAKE_LINES=$'QUIL_VO: seted bpp on FB\n' sh "$d/init" start) || die "start failed for '$v'"
        [[ $out == "Setting framebuffer to $v bpp: OK"$'\n'"arg=$v"$'\n''QUIL_VO: seted bpp on FB' ]] ||
            die "PIXVANE_BPP=$v: $out"
    done
    # shellcheck disable=SC2016 # the facility name, not an expansion
    grep -qx '# X-Start-Before:    $x-display-manager' "$d/init" || die "init script names no real facility"
}
check "init script does nothing without a depth and refuses one pixvane would replace by 24" judge_init

# Without a framebuffer the script waits PIXVANE_WAIT seconds, says so in one
# line and fails, and never runs pixvane; with one it links fb/0 to it.
judge_init_device() {
    judge_fake
    local d=$TMP/judge out rc=0
    printf 'PIXVANE_BPP=16\nPIXVANE_WAIT=1\n' >"$d/default"
    out=$(FAKE_LINES=$'QUIL_VO: seted bpp on FB\n' sh "$d/init" start) || die "start failed with fb0: $out"
    [[ $(readlink "$d/dev/fb/0") == ../fb0 ]] || die "no link fb/0 -> ../fb0"
    rm -rf "${d:?}/dev" && mkdir -p "$d/dev"
    out=$(FAKE_LINES=$'QUIL_VO: seted bpp on FB\n' sh "$d/init" start) || rc=$?
    ((rc == 1)) || die "start without a framebuffer exited $rc"
    [[ $out == "Setting framebuffer to 16 bpp: FAIL, no framebuffer $d/dev/fb0 within 1 s" ]] ||
        die "start without a framebuffer said: $out"
}
check "init script waits for the framebuffer, links fb/0, and fails in one line without one" judge_init_device

# README's table of arguments as NAME:DEPTH, one a line: each argument a row
# gives in a code span that a unit's instance name can hold (one word, no
# quotes, not empty), with the depth in the row's second column.
readme_argument_rows() {
    awk '/^<!-- table: arguments -->$/ { on = 1; next }
        on && /^\|/ { if (++seen > 2) print; next }
        on && seen { exit }' "$SRC/README.md" |
        while IFS='|' read -r _ args depth _; do
            depth=${depth// /}
            while [[ $args == *'`'*'`'* ]]; do
                args=${args#*'`'}
                name=${args%%'`'*}
                args=${args#*'`'}
                if [[ -n $name && $name != *[\ \"]* ]]; then echo "$name:$depth"; fi
            done
        done
}

# With several instances enabled, the wrapper's condition lets the one with
# the lowest depth run, reading each name as pixvane reads its argument. The
# names and depths are the rows of README's table of arguments that a unit
# name can hold; each is pinned between the depths next to it: a neighbour
# one deeper loses to it, one shallower wins.
judge_condition() {
    judge_fake
    local d=$TMP/judge wants row rows name depth rc out
    rows=$(readme_argument_rows)
    (($(wc -l <<<"$rows") >= 12)) || die "README's table of arguments gives only these names: $rows"
    wants=$d/units/etc/systemd/system/dev-fb-0.device.wants
    sed "s|\(/[a-z/]*/systemd/system\)|$d/units\1|g" "$d/unit" >"$d/cond"
    grep -qF "$d/units/etc/systemd/system" "$d/cond" || die "the condition's unit directories moved"
    enable_instances() {
        rm -rf "$d/units"
        mkdir -p "$wants"
        local i
        for i; do ln -s /lib/systemd/system/pixvane@.service "$wants/pixvane@$i.service"; done
    }
    condition() { sh "$d/cond" --condition "$1"; }
    for row in $rows; do
        name=${row%:*} depth=${row#*:}
        [[ $depth =~ ^[0-9]+$ ]] || die "README's table gives no depth for $name: $row"
        if ((depth < 32)); then
            enable_instances "$name" $((depth + 1))
            condition "$name" >/dev/null || die "pixvane@$name (depth $depth) skipped for @$((depth + 1))"
        fi
        if ((depth > 8)); then
            enable_instances "$name" $((depth - 1))
            rc=0
            out=$(condition "$name") || rc=$?
            ((rc == 1)) || die "pixvane@$name (depth $depth) ran beside @$((depth - 1)) (status $rc)"
            [[ $out == *"pixvane@$((depth - 1)).service"* ]] || die "pixvane@$name skipped without naming the other: $out"
            condition $((depth - 1)) >/dev/null || die "pixvane@$((depth - 1)) skipped beside @$name"
        fi
    done
    # Of equal depths the name that sorts first runs; an instance that is not
    # enabled, started by hand, always runs.
    enable_instances 16bpp 16
    condition 16 >/dev/null || die "pixvane@16 skipped beside @16bpp"
    rc=0
    condition 16bpp >/dev/null || rc=$?
    ((rc == 1)) || die "pixvane@16bpp ran beside @16 (status $rc)"
    enable_instances 8
    condition 32 >/dev/null || die "pixvane@32, not enabled, was skipped"
}
check "unit condition: of several enabled instances only the lowest depth runs" judge_condition
